// `kestro backup --snapshot` of a mounted file system's image while a writer runs, the required
// snapshot that cannot be made, and `kestro snapshots` finding and reaping a dead owner's one.
#include <Shadrel.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

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
  kestro::MapDrive('C', host_ + "/c.img");
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
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

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

}  // namespace
}  // namespace kestro::testing
