// What a backup must never destroy and a restore must never accept: the previous image survives a
// failed, interrupted or colliding backup; a backup refuses to write into its own source; restore
// checks an image against its sidecar before the target is opened for writing.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

namespace fs = std::filesystem;

nlohmann::json ReadSidecar(const std::string& image) {
  return nlohmann::json::parse(std::ifstream(image + ".kestro"));
}

void WriteSidecar(const std::string& image, const nlohmann::json& sidecar) {
  std::ofstream(image + ".kestro") << sidecar.dump(2);
}

// A loop device over a file, detached however the test ends.
class LoopDevice {
 public:
  LoopDevice(const std::string& file, bool readOnly) {
    const auto attached = RunCommand(std::string("losetup ") + (readOnly ? "-r " : "") +
                                     "-f --show " + ShellQuote(file));
    if (attached.status == 0) path_ = Lines(attached.output).at(0);
  }
  ~LoopDevice() {
    if (!path_.empty()) RunCommand("losetup -d " + ShellQuote(path_));
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class Safety : public KestroTest {
 protected:
  std::string BackUp(const SamplePartition& partition, const std::string& image,
                     const std::string& options = "") {
    const auto result =
        Kestro("backup " + Partition(partition) + " " + ShellQuote(image) + " -q " + options);
    EXPECT_EQ(result.status, 0) << result.output;
    return image;
  }

  // A shell line that starts a backup of a large, mostly empty volume to `image` in the
  // background and waits until it is writing; its process id is in $pid.
  std::string StartSlowBackup(const std::string& image) {
    if (slow.empty()) {
      slow = dir.File("big.img");
      MakeFat(slow, 32, 8ull << 30);
    }
    return ShellQuote(KESTRO_PROGRAM) + " backup " + ShellQuote(slow) + " " + ShellQuote(image) +
           " --buffer 64K -q & pid=$!; while [ ! -e " + ShellQuote(image + ".partial") +
           " ]; do sleep 0.05; done; sleep 0.3; ";
  }

  std::string slow;
};

TEST_F(Safety, ThePreviousImageSurvivesFailedKilledAndCollidingBackups) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string image = BackUp(kSampleFat, dir.File("fat.img"));
  const std::string imageBefore = Sha256(image);
  const std::string sidecarBefore = ReadFileText(image + ".kestro");

  // A failure after every byte was read: the staged sidecar's name is taken by a folder.
  fs::create_directory(image + ".partial.kestro");
  const auto failed = Kestro("backup " + Partition(kSampleNtfs) + " " + ShellQuote(image) + " -q");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.output.find(image + ".partial.kestro: cannot create"), std::string::npos)
      << failed.output;
  fs::remove(image + ".partial.kestro");
  EXPECT_FALSE(fs::exists(image + ".partial"));

  // A second backup to the same path is refused while one runs; the running one is then killed.
  const auto collided = RunCommand(
      "bash -c " + ShellQuote(StartSlowBackup(image) + ShellQuote(KESTRO_PROGRAM) + " backup " +
                              Partition(kSampleNtfs) + " " + ShellQuote(image) +
                              " -q; echo second=$?; kill -KILL $pid; wait $pid"));
  EXPECT_NE(collided.output.find("second=1"), std::string::npos) << collided.output;
  EXPECT_NE(collided.output.find(image + ".partial: a backup to the same image is running"),
            std::string::npos)
      << collided.output;
  EXPECT_EQ(Sha256(image), imageBefore);
  EXPECT_EQ(ReadFileText(image + ".kestro"), sidecarBefore);

  // The killed backup's leftover is recognised as stale and replaced by the next backup.
  BackUp(kSampleNtfs, image);
  EXPECT_EQ(Sha256(image), Sha256(disk, kSampleNtfs.offset, kSampleNtfs.length));
  EXPECT_FALSE(fs::exists(image + ".partial"));

  // Hung up before it finished, a backup to a new path leaves nothing there.
  const std::string fresh = dir.File("fresh.img");
  const auto hungUp = RunCommand(
      "bash -c " + ShellQuote(StartSlowBackup(fresh) + "kill -HUP $pid; wait $pid; echo st=$?"));
  EXPECT_NE(hungUp.output.find("st=1"), std::string::npos) << hungUp.output;
  for (const char* suffix : {"", ".partial", ".kestro", ".partial.kestro"}) {
    EXPECT_FALSE(fs::exists(fresh + suffix)) << suffix;
  }
}

// A backup over an image is killed, or made to fail, at each flush, rename, removal and small-file
// write of its publish step in turn (strace counts the calls; a run it no longer
// reaches ends the loop). Each time the image left standing is the old or the new one, and it
// restores and verifies without --force against the partition it came from.
TEST_F(Safety, EveryKillOrFailureWhilePublishingLeavesAnImageThatRestores) {
  KESTRO_REQUIRE_TOOL("strace");
  const std::string image = dir.File("img.img");
  const std::string oldSha = Sha256(disk, kSampleNtfs.offset, kSampleNtfs.length);
  const std::string newSha = Sha256(disk, kSampleFat.offset, kSampleFat.length);
  const std::string staged = " -P " + ShellQuote(image + ".partial.kestro") + " -P " +
                             ShellQuote(image + ".partial.rescue-map") + " ";
  const std::vector<std::pair<std::string, std::string>> injections = {
      {"fsync", ":signal=KILL"}, {"renameat", ":signal=KILL"}, {"unlinkat", ":signal=KILL"},
      {"write", ":signal=KILL"}, {"fsync", ":error=EIO"},      {"renameat", ":error=EXDEV"},
      {"write", ":error=ENOSPC"}};
  for (const auto& [call, effect] : injections) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(call + effect + ":when=" + std::to_string(n));
      for (const char* suffix : {"", ".kestro", ".rescue-map", ".partial", ".partial.kestro"}) {
        fs::remove(image + suffix);
      }
      BackUp(kSampleNtfs, image);
      const auto run =
          RunCommand("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null" +
                     (call == "write" ? staged : std::string(" ")) + "-e trace=" + call +
                     " -e inject=" + call + effect + ":when=" + std::to_string(n) + " " +
                     ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleFat) + " " +
                     ShellQuote(image) + " -q --rescue");
      const std::string sha = Sha256(image);
      ASSERT_TRUE(sha == oldSha || sha == newSha) << run.output;
      const std::string volume = Partition(sha == newSha ? kSampleFat : kSampleNtfs);
      const auto restored = Kestro("restore " + ShellQuote(image) + " " + volume + " -q");
      EXPECT_EQ(restored.status, 0) << run.output << restored.output;
      const auto verified = Kestro("verify " + volume + " " + ShellQuote(image) + " -q");
      EXPECT_EQ(verified.status, 0) << verified.output;
      if (run.status == 0) break;
    }
  }
  EXPECT_EQ(Sha256(disk, kSampleFat.offset, kSampleFat.length), newSha);
  // Killed at the sidecar's rename (the second): a staged sidecar another user owns is not taken.
  if (getuid() != 0) return;
  BackUp(kSampleNtfs, image);
  const auto killed = RunCommand(
      "strace -f -qq -o /dev/null -e trace=renameat -e "
      "inject=renameat:signal=KILL:when=2 " +
      ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleFat) + " " + ShellQuote(image) +
      " -q");
  ASSERT_EQ(Sha256(image), newSha) << killed.output;
  ASSERT_EQ(chown((image + ".partial.kestro").c_str(), 65534, 65534), 0);
  EXPECT_EQ(Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleFat) + " -q").status, 1);

  // Stranded the same way, then a backup that fails in its copy: the image keeps its digest.
  fs::remove(image + ".partial.kestro");
  BackUp(kSampleNtfs, image);
  RunCommand("strace -f -qq -o /dev/null -e trace=renameat -e inject=renameat:signal=KILL:when=2 " +
             ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleFat) + " " +
             ShellQuote(image) + " -q");
  RunCommand("strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:error=ENOSPC " +
             ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleNtfs) + " " +
             ShellQuote(image) + " -q");
  ASSERT_EQ(Sha256(image), newSha);
  EXPECT_EQ(Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleFat) + " -q").status, 0);
}

// A drive letter's mapping is opened once: neither its volume nor the disk it lies on (where a
// partition's tail is written) is opened by the mapped name again, which a user could relink.
TEST_F(Safety, ADriveLetterIsReachedOnlyThroughTheFileOpenedOnce) {
  KESTRO_REQUIRE_TOOL("strace");
  KESTRO_REQUIRE_TOOL("sfdisk");
  // A partition with a tail past its file system, which restore writes through the disk.
  const std::string tailed = dir.File("tailed.img");
  ASSERT_EQ(RunCommand("truncate -s 40M " + ShellQuote(tailed) +
                       " && printf 'start=2048, size=40000, type=83\\n' | sfdisk -q " +
                       ShellQuote(tailed) + " && mkfs.ext4 -q -F -E offset=1048576 " +
                       ShellQuote(tailed) + " 16M")
                .status,
            0);
  const std::string mapped =
      "KESTRO_DRIVE_Q=" + ShellQuote(tailed) + " KESTRO_DRIVE_Q_PARTITION=1 ";
  const std::string image = dir.File("q.img");
  ASSERT_EQ(
      RunCommand(mapped + ShellQuote(KESTRO_PROGRAM) + " backup Q: " + ShellQuote(image) + " -q")
          .status,
      0);
  const auto traced = RunCommand(
      mapped + "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/stdout -e trace=open,openat " +
      ShellQuote(KESTRO_PROGRAM) + " restore " + ShellQuote(image) + " Q: -q");
  EXPECT_NE(traced.output.find("read back and verified"), std::string::npos) << traced.output;
  EXPECT_EQ(traced.output.find("\"" + tailed + "\""), std::string::npos) << traced.output;
}

TEST_F(Safety, ABackupNeverWritesIntoTheFileBehindItsLoopDevice) {
  KESTRO_REQUIRE_TOOL("losetup");
  const LoopDevice loop(disk, false);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device (needs root and losetup)";
  // The backing file under its own name, under another name, and as the image's sidecar.
  const std::string link = dir.File("link.img");
  fs::create_hard_link(disk, link);
  fs::create_hard_link(disk, dir.File("named.kestro"));
  const std::string before = Sha256(disk);
  for (const std::string& image : {disk, link, dir.File("named")}) {
    const auto result =
        Kestro("backup " + ShellQuote(loop.path()) + " --partition 1 " + ShellQuote(image) + " -q");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("is where " + loop.path() + " partition 1 is read from"),
              std::string::npos)
        << result.output;
  }
  EXPECT_EQ(Sha256(disk), before);
}

TEST_F(Safety, CommandsThatOnlyReadWorkOnAReadOnlyDevice) {
  KESTRO_REQUIRE_TOOL("losetup");
  const LoopDevice loop(disk, true);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device (needs root and losetup)";
  const std::string volume = ShellQuote(loop.path()) + " --partition 1";
  const std::string image = dir.File("fat.img");
  EXPECT_EQ(Kestro("info " + volume).status, 0);
  const auto backup = Kestro("backup " + volume + " " + ShellQuote(image) + " -q");
  ASSERT_EQ(backup.status, 0) << backup.output;
  EXPECT_EQ(Sha256(image), Sha256(disk, kSampleFat.offset, kSampleFat.length));
  const auto verify = Kestro("verify " + volume + " " + ShellQuote(image) + " -q");
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(KestroOutput("cat " + volume + " --offset 510 --length 2").output, "\x55\xAA");
}

TEST_F(Safety, RestoreRefusesAOneByteCorruptionBeforeWritingForEachDigest) {
  for (const std::string hash : {"sha256", "xxh128"}) {
    SCOPED_TRACE(hash);
    const std::string image = BackUp(kSampleFat, dir.File(hash + ".img"), "--hash " + hash);
    WriteBytes(image, 70000, {static_cast<uint8_t>(ReadBytes(image, 70000, 1)[0] ^ 1)});
    const std::string before = Sha256(disk);
    const auto result =
        Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleFat) + " -q");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output.rfind("kestro: " + image +
                                      ": differs from the digest its backup "
                                      "recorded (" +
                                      hash,
                                  0),
              0u)
        << result.output;
    EXPECT_EQ(Sha256(disk), before);
  }
}

TEST_F(Safety, ImagesThatCannotStandForTheVolumeNeedForce) {
  const std::string volume = Partition(kSampleFat);
  // A rescue image whose volume had unreadable sectors.
  const std::string rescued = BackUp(kSampleFat, dir.File("rescued.img"), "--rescue");
  nlohmann::json sidecar = ReadSidecar(rescued);
  sidecar["unreadable_bytes"] = 1024;
  WriteSidecar(rescued, sidecar);
  const std::string before = Sha256(disk);
  const auto refused = Kestro("restore " + ShellQuote(rescued) + " " + volume + " -q");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("rescue image: 1024 bytes"), std::string::npos) << refused.output;
  EXPECT_EQ(Sha256(disk), before);
  const auto forced = Kestro("restore " + ShellQuote(rescued) + " " + volume + " -q --force");
  EXPECT_EQ(forced.status, 0) << forced.output;
  EXPECT_NE(forced.output.find("rescue image: 1024 bytes"), std::string::npos) << forced.output;

  // An image whose sidecar says a backup to it did not finish.
  sidecar["unreadable_bytes"] = 0;
  sidecar["complete"] = false;
  WriteSidecar(rescued, sidecar);
  for (const std::string& command : {"verify " + volume + " " + ShellQuote(rescued),
                                     "restore " + ShellQuote(rescued) + " " + volume}) {
    const auto result = Kestro(command + " -q");
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_NE(result.output.find(rescued + ".kestro: says its image is incomplete"),
              std::string::npos)
        << result.output;
  }

  // An image without a sidecar that ends before the volume does.
  const std::string shortImage = dir.File("short.img");
  CopyWithDd(disk, kSampleFat.offset, kSampleFat.length / 2, shortImage);
  const auto partial = Kestro("verify " + volume + " " + ShellQuote(shortImage) + " -q");
  EXPECT_EQ(partial.status, 1);
  EXPECT_NE(
      partial.output.find(shortImage + ": has " + std::to_string(kSampleFat.length / 2) + " bytes"),
      std::string::npos)
      << partial.output;
  EXPECT_EQ(Kestro("verify " + volume + " " + ShellQuote(shortImage) + " -q --force").status, 0);
  EXPECT_EQ(Sha256(disk), before);
}

// What cannot be checked is refused before the target is opened, leaving its bytes and time
// alone: a sidecar digest that cannot be one (even with --force), an --expect-digest that cannot
// be one of --hash's, an image restored onto itself.
TEST_F(Safety, UncheckableDigestsAndSelfRestoresAreRefusedBeforeTheTargetIsTouched) {
  const std::string image = BackUp(kSampleFat, dir.File("fat.img"));
  const std::string volume = Partition(kSampleFat);
  const nlohmann::json sidecar = ReadSidecar(image);
  const std::string digest = sidecar["digest"];
  struct stat before {};
  ASSERT_EQ(stat(disk.c_str(), &before), 0);
  const std::string sha = Sha256(disk);
  const std::string upper = RunCommand("printf %s " + digest + " | tr a-f A-F").output;
  for (const std::string& expected : {std::string("nothex"), std::string(32, '0'),
                                      "xxh128:" + digest, std::string(63, '0') + "g"}) {
    const auto result = Kestro("restore " + ShellQuote(image) + " " + volume +
                               " -q --expect-digest " + ShellQuote(expected));
    EXPECT_EQ(result.status, 2) << result.output;
    EXPECT_EQ(result.output.rfind("kestro: --expect-digest: ", 0), 0u) << result.output;
  }

  const std::vector<std::pair<nlohmann::json, std::string>> malformed = {
      {nullptr, "is missing"},
      {"", "is empty"},
      {"abc", "has 3 characters"},
      {std::string(64, 'g'), "is not hexadecimal"}};
  WriteBytes(image, 70000, {static_cast<uint8_t>(ReadBytes(image, 70000, 1)[0] ^ 1)});
  for (const auto& [value, reason] : malformed) {
    nlohmann::json changed = sidecar;
    if (value.is_null()) changed.erase("digest");
    if (!value.is_null()) changed["digest"] = value;
    WriteSidecar(image, changed);
    const auto result = Kestro("restore " + ShellQuote(image) + " " + volume + " -q --force");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find(image + ".kestro: is malformed: its \"digest\" field " + reason),
              std::string::npos)
        << result.output;
  }
  // A sidecar that is not JSON is refused without quoting it; one another user planted is not
  // believed.
  std::ofstream(image + ".kestro") << "{\"digest\": \"TOPSECRET";
  const auto garbled = Kestro("restore " + ShellQuote(image) + " " + volume + " -q --force");
  EXPECT_EQ(garbled.status, 1) << garbled.output;
  EXPECT_NE(garbled.output.find(".kestro: cannot read: not valid JSON"), std::string::npos)
      << garbled.output;
  EXPECT_EQ(garbled.output.find("TOPSECRET"), std::string::npos) << garbled.output;
  if (geteuid() == 0) {
    WriteSidecar(image, sidecar);
    ASSERT_EQ(chown((image + ".kestro").c_str(), 65534, 65534), 0);
    const auto planted = Kestro("verify " + volume + " " + ShellQuote(image) + " -q");
    EXPECT_NE(
        planted.output.find(".kestro: belongs to uid 65534, neither the image's owner nor root"),
        std::string::npos)
        << planted.output;
  }
  const auto itself = Kestro("restore " + ShellQuote(disk) + " " + ShellQuote(disk) + " -q");
  EXPECT_EQ(itself.status, 1) << itself.output;
  EXPECT_NE(itself.output.find(disk + ": is stored on " + disk), std::string::npos)
      << itself.output;
  struct stat after {};
  ASSERT_EQ(stat(disk.c_str(), &after), 0);
  EXPECT_EQ(std::pair(after.st_mtim.tv_sec, after.st_mtim.tv_nsec),
            std::pair(before.st_mtim.tv_sec, before.st_mtim.tv_nsec));
  EXPECT_EQ(Sha256(disk), sha);
  // Either case is hex, and the algorithm may be named.
  WriteSidecar(image, sidecar);
  WriteBytes(image, 70000, {static_cast<uint8_t>(ReadBytes(image, 70000, 1)[0] ^ 1)});
  EXPECT_EQ(
      Kestro("restore " + ShellQuote(image) + " " + volume + " -q --expect-digest sha256:" + upper)
          .status,
      0);
}

TEST_F(Safety, ImagesArePrivateUnlessModeSaysOtherwise) {
  for (const auto& [option, mode] : {std::pair("", 0600), std::pair("--mode 0640", 0640)}) {
    const std::string image = dir.File("private" + std::to_string(mode) + ".img");
    const auto result =
        RunCommand("umask 0; " + ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleFat) +
                   " " + ShellQuote(image) + " -q --rescue " + option);
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* suffix : {"", ".kestro", ".rescue-map"}) {
      struct stat st {};
      ASSERT_EQ(stat((image + suffix).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, static_cast<unsigned>(mode)) << image << suffix;
    }
  }
  for (const char* mode : {"4600", "1777", "0800", "rw"}) {
    const auto refused = Kestro("backup " + Partition(kSampleFat) + " " +
                                ShellQuote(dir.File("bad.img")) + " -q --mode " + mode);
    EXPECT_EQ(refused.status, 2) << refused.output;
    EXPECT_NE(refused.output.find("not a mode: " + std::string(mode)), std::string::npos);
  }
}

TEST_F(Safety, ASidecarThatIsNotAFileIsRefusedWithoutBlockingOrFollowingALink) {
  const std::string image = BackUp(kSampleFat, dir.File("fat.img"));
  fs::remove(image + ".kestro");
  ASSERT_EQ(RunCommand("mkfifo " + ShellQuote(image + ".kestro")).status, 0);
  for (const std::string& command : {"verify " + Partition(kSampleFat) + " " + ShellQuote(image),
                                     "restore " + ShellQuote(image) + " " + Partition(kSampleFat),
                                     "backup " + Partition(kSampleFat) + " " + ShellQuote(image)}) {
    const auto result =
        RunCommand("timeout 60 " + ShellQuote(KESTRO_PROGRAM) + " " + command + " -q");
    EXPECT_EQ(result.status, 1) << command << "\n" << result.output;
    EXPECT_NE(result.output.find(image + ".kestro: not a regular file"), std::string::npos)
        << result.output;
  }
  EXPECT_TRUE(fs::is_fifo(image + ".kestro"));

  // A link at the image's, the sidecar's or the rescue map's name is refused and kept, and what
  // it names is untouched; a linked sidecar is not read, though it would fit.
  const std::string other = BackUp(kSampleFat, dir.File("other.img"));
  const std::string linked = dir.File("linked.img");
  for (const std::string& name : {linked, linked + ".kestro", linked + ".rescue-map"}) {
    fs::create_symlink(other, name);
    const auto result =
        Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(linked) + " -q --rescue");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find(name + ": is a symbolic link"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(name) && fs::remove(name));
  }
  fs::remove(image + ".kestro");
  fs::create_symlink(other + ".kestro", image + ".kestro");
  const std::string verify = "verify " + Partition(kSampleFat) + " " + ShellQuote(image) + " -q";
  EXPECT_NE(Kestro(verify).output.find(image + ".kestro: is a symbolic link"), std::string::npos);
  if (geteuid() != 0) return;
  // A sidecar another user wrote beside root's image is not believed.
  fs::remove(image + ".kestro");
  fs::copy_file(other + ".kestro", image + ".kestro");
  ASSERT_EQ(chown((image + ".kestro").c_str(), 65534, 65534), 0);
  EXPECT_NE(Kestro(verify).output.find(image + ".kestro: belongs to uid 65534"), std::string::npos);
}

TEST_F(Safety, ABackupSaysItDropsTheBytesBeyondTheLastWholeSector) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string volume = dir.File("odd.img");
  MakeFat(volume, 16, 16 << 20);
  fs::resize_file(volume, (16 << 20) + 100);
  const auto result =
      Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(dir.File("odd-copy.img")) + " -q");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find(volume + ": its last 100 bytes are less than a sector"),
            std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace kestro::testing
