// `kestro backup --snapshot` of a mounted file system's image while a writer runs, the required
// snapshot that cannot be made, and `kestro snapshots` finding and reaping a dead owner's one.
#include <Shadrel.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <win32/drive_map.h>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

class SnapshotBackup : public KestroTest {
 protected:
  // An XFS file system that can clone, mounted at host/; false (skip) where the machine cannot.
  bool MountCloningFileSystem() {
    if (!HaveTool("mkfs.xfs")) {
      whyNot_ = "mkfs.xfs is not installed";
      return false;
    }
    CreateSparseFile(dir.File("xfs.img"), 512ull << 20);
    if (RunCommand("mkfs.xfs -q -m reflink=1 " + ShellQuote(dir.File("xfs.img"))).status != 0) {
      whyNot_ = "mkfs.xfs failed";
      return false;
    }
    std::filesystem::create_directory(host_);
    auto mounted = ScopedMount::Kernel(dir.File("xfs.img"), host_, &whyNot_);
    if (mounted) host_mount_.emplace(std::move(*mounted));
    return host_mount_.has_value();
  }

  // Starts a snapshot of `image` in a child that ends without releasing it; the child's id.
  static pid_t LeaveStaleSnapshot(const std::string& image) {
    kestro::MapDrive('C', image);
    const pid_t child = fork();
    if (child == 0) {
      CShadrel requester;
      win32::WCHAR root[] = {u'C', u':', u'\\', 0};
      win32::WCHAR path[win32::MAX_PATH] = {};
      int length = 3;
      _exit(requester.VssStartBackupNoWriter(root, path, length) == 0 ? 0 : 1);  // no release
    }
    int status = 0;
    waitpid(child, &status, 0);
    kestro::UnmapDrive('C');
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return child;
  }

  std::string host_ = dir.File("host");
  std::string whyNot_;
  std::optional<ScopedMount> host_mount_;
  ScopedEnv state_{"KESTRO_STATE_DIR", dir.File("state")};
};

// Keeps writing and flushing files in `folder` until stopped.
class Writer {
 public:
  explicit Writer(const std::string& folder) {
    pid_ = fork();
    if (pid_ == 0) {
      execlp("sh", "sh", "-c",
             ("i=0; while :; do i=$((i % 8 + 1)); dd if=/dev/urandom of=" + ShellQuote(folder) +
              "/file$i bs=64k count=8 conv=fsync status=none; done")
                 .c_str(),
             nullptr);
      _exit(127);
    }
  }
  ~Writer() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

TEST_F(SnapshotBackup, ImageOfAMountedFileSystemUnderWritesIsClean) {
  if (!MountCloningFileSystem()) GTEST_SKIP() << whyNot_;
  const std::string volume = host_ + "/ext4.img";
  MakeExt4(volume, 64 << 20);
  const std::string inner = dir.File("inner");
  std::filesystem::create_directory(inner);
  auto innerMount = ScopedMount::Kernel(volume, inner, &whyNot_);
  if (!innerMount) GTEST_SKIP() << whyNot_;
  {
    Writer writer(inner);
    usleep(200 * 1000);
    const auto backup = Kestro("backup --snapshot -q " + ShellQuote(volume) + " " +
                               ShellQuote(dir.File("out.img")));
    ASSERT_EQ(backup.status, 0) << backup.output;
    EXPECT_NE(backup.output.find("snapshot: reflink, "), std::string::npos) << backup.output;
  }
  const auto checked = RunCommand("e2fsck -fn " + ShellQuote(dir.File("out.img")) + " 2>&1");
  EXPECT_EQ(checked.status, 0) << checked.output;
  EXPECT_EQ(Kestro("snapshots").output, "no snapshots\n");
}

TEST_F(SnapshotBackup, RequiredSnapshotThatCannotBeMadeWritesNothing) {
  MakeFat(dir.File("c.img"), 16, 16 << 20);
  if (RunCommand("stat -f -c %T " + ShellQuote(dir.path())).output != "ext2/ext3\n") {
    GTEST_SKIP() << "the temporary folder is not on ext4";
  }
  const auto backup = Kestro("backup --snapshot=required -q " + ShellQuote(dir.File("c.img")) +
                             " " + ShellQuote(dir.File("out.img")));
  EXPECT_EQ(backup.status, 1);
  EXPECT_NE(backup.output.find("no snapshot could be made (the file system holding " +
                               dir.File("c.img") + " cannot clone files (ext4))"),
            std::string::npos)
      << backup.output;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.img")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.img.partial")));
}

TEST_F(SnapshotBackup, SnapshotsListsAndReapsADeadOwnersSnapshot) {
  if (!MountCloningFileSystem()) GTEST_SKIP() << whyNot_;
  MakeFat(host_ + "/c.img", 16, 16 << 20);
  const pid_t child = LeaveStaleSnapshot(host_ + "/c.img");

  const auto listed = Kestro("snapshots");
  EXPECT_EQ(listed.status, 0);
  const auto lines = Lines(listed.output);
  ASSERT_EQ(lines.size(), 2u) << listed.output;
  const std::vector<std::string> words{"reflink", "c.img", "stale", std::to_string(child)};
  for (const std::string& word : words) {
    EXPECT_NE(lines[1].find(word), std::string::npos) << lines[1];
  }
  EXPECT_EQ(Kestro("snapshots --reap").output, "removed 1 stale snapshot\n");
  EXPECT_EQ(Kestro("snapshots").output, "no snapshots\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host_ + "/.kestro-snapshots"), {}),
            0);
}

size_t FilesIn(const std::string& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// An image whose folder name carries record lines of its own, a victim file only root may read,
// and a stand-in lvm: the reap removes the clone and nothing else, and runs no lvm at all. Then
// the snapshot folder is swapped for a link to a decoy folder: the reap and a new snapshot refuse
// it by name and leave both folders' files alone.
TEST_F(SnapshotBackup, HostileNamesAndSwappedFoldersNeverSteerTheReaper) {
  if (!MountCloningFileSystem()) GTEST_SKIP() << whyNot_;
  const std::string victim = host_ + "/root-only";
  std::ofstream(victim) << "secret";
  const std::string hostile =
      host_ + "/a\npid=1\nengine=lvm\ntarget=vg0\nengine=reflink\ntarget=" + victim + "\n\"},{\"x";
  std::filesystem::create_directories(hostile);
  MakeFat(hostile + "/c.img", 16, 16 << 20);
  std::filesystem::create_directory(dir.File("bin"));
  std::filesystem::create_symlink(KESTRO_LVM_STANDIN, dir.File("bin/lvm"));
  ScopedEnv lvm("KESTRO_LVM", dir.File("bin/lvm"));
  ScopedEnv log("LVM_STANDIN_LOG", dir.File("lvm.log"));
  LeaveStaleSnapshot(hostile + "/c.img");

  const auto listed = Kestro("snapshots");
  EXPECT_EQ(listed.status, 0);
  ASSERT_EQ(Lines(listed.output).size(), 2u) << listed.output;
  EXPECT_NE(listed.output.find("/a\\npid=1\\nengine=lvm"), std::string::npos) << listed.output;
  EXPECT_EQ(Kestro("snapshots --reap").output, "removed 1 stale snapshot\n");
  EXPECT_EQ(ReadFileText(victim), "secret");
  EXPECT_FALSE(std::filesystem::exists(dir.File("lvm.log")));
  EXPECT_EQ(FilesIn(hostile + "/.kestro-snapshots"), 0u);

  MakeFat(host_ + "/c.img", 16, 16 << 20);
  const pid_t owner = LeaveStaleSnapshot(host_ + "/c.img");
  const std::string clone = "kestro-snap-" + std::to_string(owner) + "-1";
  std::filesystem::rename(host_ + "/.kestro-snapshots", host_ + "/moved");
  std::filesystem::create_directory(host_ + "/decoy");
  std::ofstream(host_ + "/decoy/" + clone) << "not a clone";
  std::filesystem::create_directory_symlink("decoy", host_ + "/.kestro-snapshots");
  const auto reap = Kestro("snapshots --reap");
  EXPECT_EQ(reap.status, 1);
  EXPECT_NE(reap.output.find(host_ + "/.kestro-snapshots is a symbolic link, not a folder"),
            std::string::npos)
      << reap.output;
  const auto backup = Kestro("backup --snapshot=required -q " + ShellQuote(host_ + "/c.img") + " " +
                             ShellQuote(dir.File("out.img")));
  EXPECT_EQ(backup.status, 1);
  EXPECT_NE(backup.output.find("is a symbolic link, not a folder"), std::string::npos)
      << backup.output;
  EXPECT_EQ(ReadFileText(host_ + "/decoy/" + clone), "not a clone");
  EXPECT_EQ(FilesIn(host_ + "/decoy"), 1u);
  EXPECT_TRUE(std::filesystem::exists(host_ + "/moved/" + clone));
}

// A record owned by another user, a state folder others may write and a record in the old
// key=value form are each reported by name and kept; none is believed or reaped.
TEST_F(SnapshotBackup, UntrustedRecordsAndFoldersAreRefusedAndKept) {
  if (!MountCloningFileSystem()) GTEST_SKIP() << whyNot_;
  MakeFat(host_ + "/c.img", 16, 16 << 20);
  const pid_t owner = LeaveStaleSnapshot(host_ + "/c.img");
  const std::string state = dir.File("state");
  const std::string record = state + "/" + std::to_string(owner) + "-1.json";
  ASSERT_EQ(chown(record.c_str(), 65534, 65534), 0);
  for (const char* command : {"snapshots", "snapshots --reap"}) {
    const auto refused = Kestro(command);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(record + " belongs to another user (uid 65534)"),
              std::string::npos)
        << refused.output;
  }
  EXPECT_EQ(FilesIn(host_ + "/.kestro-snapshots"), 1u);
  ASSERT_EQ(chown(record.c_str(), 0, 0), 0);

  ASSERT_EQ(chmod(state.c_str(), 0770), 0);
  const auto open = Kestro("snapshots --reap");
  EXPECT_EQ(open.status, 1);
  EXPECT_NE(open.output.find(state + " may be written by other users (mode 0770)"),
            std::string::npos)
      << open.output;
  EXPECT_EQ(open.output.find("no snapshots"), std::string::npos);
  ASSERT_EQ(chmod(state.c_str(), 0700), 0);

  std::ofstream(state + "/1-1.snapshot") << "id=1-1\npid=1\nengine=reflink\ntarget=/etc/passwd\n";
  const auto old = Kestro("snapshots --reap");
  EXPECT_EQ(old.status, 1);
  EXPECT_NE(old.output.find(state + "/1-1.snapshot: a record of an earlier version, not trusted"),
            std::string::npos)
      << old.output;
  EXPECT_NE(old.output.find("removed 1 stale snapshot"), std::string::npos) << old.output;
  EXPECT_TRUE(std::filesystem::exists(state + "/1-1.snapshot"));
}

// A system call of the thread that freezes, as strace's injection counts it: the nth of its name.
struct KillPoint {
  std::string call;
  int nth = 0;
};

// The calls the backup's freezing thread makes from its freeze to its thaw, from `strace -f`.
std::vector<KillPoint> FreezeWindow(const std::string& trace) {
  std::map<std::string, std::map<std::string, int>> counts;  // per thread, per call
  std::vector<KillPoint> window;
  std::string freezer;
  for (const std::string& line : Lines(ReadFileText(trace))) {
    std::istringstream fields(line);
    std::string thread;
    std::string rest;
    fields >> thread >> std::ws;
    std::getline(fields, rest);
    const size_t paren = rest.find('(');
    if (paren == std::string::npos || rest.empty() || !std::isalpha(rest[0])) continue;
    const int nth = ++counts[thread][rest.substr(0, paren)];
    if (freezer.empty() && rest.find("FIFREEZE") != std::string::npos) freezer = thread;
    if (thread != freezer) continue;
    window.push_back({rest.substr(0, paren), nth});
    if (rest.find("FITHAW") != std::string::npos) break;
  }
  return window;
}

// A name for a file in `folder` not used before. Nothing may be removed there in the foreground:
// on a frozen file system even a removal waits.
std::string FreshName(const std::string& folder) {
  static int made = 0;
  return folder + "/probe" + std::to_string(++made);
}

// Whether a write and its flush in `folder` finish within 10 s; a writer still blocked is freed
// by thawing the file system, so that a failure never leaves it frozen.
bool WritesComplete(const std::string& folder) {
  const std::string probe = ShellQuote(FreshName(folder));
  const bool done = RunCommand("(echo x > " + probe + " && sync -f " + probe + " && touch " +
                               probe + ".done) >/dev/null 2>&1 & for i in $(seq 100); do [ -e " +
                               probe + ".done ] && exit 0; sleep 0.1; done; exit 1")
                        .status == 0;
  if (!done) RunCommand("fsfreeze -u " + ShellQuote(folder));
  return done;
}

class FrozenBackup : public SnapshotBackup {
 protected:
  // An ext4 file system mounted from an image on the cloning file system, and the trace of a
  // backup of that image; false (skip) where the machine cannot.
  bool Prepare() {
    if (geteuid() != 0) whyNot_ = "freezing a file system needs root";
    if (!HaveTool("strace")) whyNot_ = "strace is not installed";
    if (!whyNot_.empty() || !MountCloningFileSystem()) return false;
    MakeExt4(volume_, 32 << 20);
    std::filesystem::create_directory(inner_);
    auto mounted = ScopedMount::Kernel(volume_, inner_, &whyNot_);
    if (!mounted) return false;
    inner_mount_.emplace(std::move(*mounted));
    // Counted with the state and snapshot folders made, as every later run finds them.
    RunCommand(backup_ + "; rm -f " + ShellQuote(dir.File("out.img")) + "*");
    window_ = TraceWindow();
    return true;
  }

  // The freeze window of a backup traced now: the calls before it vary with the loop devices
  // and mounts the machine has at the time.
  std::vector<KillPoint> TraceWindow() {
    RunCommand("strace -f -qq -o " + ShellQuote(dir.File("trace")) + " " + backup_ + "; rm -f " +
               ShellQuote(dir.File("out.img")) + "*");
    return FreezeWindow(dir.File("trace"));
  }

  // Kills a backup on `point`; whether it died inside the window, leaving its record.
  bool KillOn(const KillPoint& point) {
    RunCommand("strace -f -qq -o /dev/null -e inject=" + point.call +
               ":signal=KILL:when=" + std::to_string(point.nth) + " " + backup_ + "; rm -f " +
               ShellQuote(dir.File("out.img")) + "*");
    EXPECT_TRUE(WritesComplete(inner_)) << "killed on " << point.call << " #" << point.nth;
    return Kestro("snapshots --reap").output == "removed 1 stale snapshot\n";
  }

  // Delays a backup on `point`, just after its freeze, and kills it and its guardian together
  // (their process group); whether a writer then stays blocked, the file system frozen.
  bool KillAllWhileFrozen(const KillPoint& point) {
    std::string group = RunCommand("setsid strace -f -qq -o /dev/null -e inject=" + point.call +
                                   ":delay_enter=10000000:when=" + std::to_string(point.nth) + " " +
                                   backup_ + " </dev/null >/dev/null 2>&1 & echo $!")
                            .output;
    group.pop_back();  // the line's end
    // The guardian starts just before the freeze.
    RunCommand("for i in $(seq 200); do [ $(pgrep -g " + group +
               " -c kestro) = 2 ] && break; sleep 0.05; done; sleep 0.5; /bin/kill -KILL -- -" +
               group);
    const std::string probe = FreshName(inner_);
    RunCommand("(echo x > " + ShellQuote(probe) + " && touch " + ShellQuote(probe + ".done") +
               ") >/dev/null 2>&1 &");
    usleep(1000 * 1000);
    return !std::filesystem::exists(probe + ".done");
  }

  void TearDown() override { RunCommand("fsfreeze -u " + ShellQuote(inner_) + " 2>/dev/null"); }

  std::string volume_ = host_ + "/ext4.img";
  std::string inner_ = dir.File("inner");
  std::string backup_ = ShellQuote(KESTRO_PROGRAM) + " backup --snapshot -q " +
                        ShellQuote(volume_) + " " + ShellQuote(dir.File("out.img")) +
                        " >/dev/null 2>&1";
  std::optional<ScopedMount> inner_mount_;
  std::vector<KillPoint> window_;
};

TEST_F(FrozenBackup, KilledAtAnyCallBetweenFreezeAndThawLeavesItWritable) {
  if (!Prepare()) GTEST_SKIP() << whyNot_;
  ASSERT_GE(window_.size(), 3u) << ReadFileText(dir.File("trace"));
  for (size_t i = 0; i < window_.size(); ++i) {
    // A kill that missed the window (the count shifted) is tried again on a fresh count.
    bool landed = KillOn(window_[i]);
    for (int retry = 0; retry < 3 && !landed; ++retry) {
      const auto again = TraceWindow();
      landed = again.size() == window_.size() && KillOn(again[i]);
    }
    EXPECT_TRUE(landed) << "no kill landed on " << window_[i].call;
  }
  EXPECT_EQ(Kestro("snapshots").output, "no snapshots\n");
  EXPECT_EQ(FilesIn(host_ + "/.kestro-snapshots"), 0u);
}

// The backup and its guardian are killed together while the file system is frozen: the record
// names it, and the reap thaws it.
TEST_F(FrozenBackup, ReapThawsWhatABackupAndItsGuardianLeftFrozen) {
  if (!Prepare()) GTEST_SKIP() << whyNot_;
  ASSERT_GE(window_.size(), 2u);
  bool frozen = KillAllWhileFrozen(window_[1]);
  for (int retry = 0; retry < 3 && !frozen; ++retry) {
    Kestro("snapshots --reap");
    const auto again = TraceWindow();
    frozen = again.size() >= 2 && KillAllWhileFrozen(again[1]);
  }
  ASSERT_TRUE(frozen) << "no kill landed while the file system was frozen";
  EXPECT_EQ(Kestro("snapshots --reap").output, "removed 1 stale snapshot\n");
  EXPECT_TRUE(WritesComplete(inner_));
}

}  // namespace
}  // namespace kestro::testing
