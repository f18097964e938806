// What a backup must never destroy and a restore must never accept: the previous image survives a
// failed, interrupted or colliding backup; a backup refuses to write into its own source; restore
// checks an image against its sidecar before the target is opened for writing.
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

TEST_F(Safety, ASidecarThatIsNotAFileIsRefusedWithoutBlocking) {
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
