// Bad input: one line that names the volume and says why, exit status 1 (2 for bad usage), and
// nothing written.
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

class Errors : public KestroTest {
 protected:
  // Expects exactly one line of output, starting "kestro: <start>" and giving `reason` (a
  // regular expression).
  static void ExpectOneLine(const CommandResult& result, int status, const std::string& start,
                            const std::string& reason) {
    EXPECT_EQ(result.status, status) << result.output;
    const auto lines = Lines(result.output);
    ASSERT_EQ(lines.size(), 1u) << result.output;
    EXPECT_EQ(lines[0].rfind("kestro: " + start, 0), 0u) << result.output;
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(reason))) << result.output;
  }
};

TEST_F(Errors, AnUnmappedLetterAMissingFileAndAMissingPartition) {
  ExpectOneLine(Kestro("info Q:"), 1, "Q: ", "not mapped");
  const std::string missing = dir.File("missing.img");
  ExpectOneLine(Kestro("backup " + ShellQuote(missing) + " " + ShellQuote(dir.File("out.img"))), 1,
                missing + ": ", "no such file or directory");
  ExpectOneLine(Kestro("info " + ShellQuote(disk) + " --partition 7"), 1,
                disk + " partition 7: ", "no such partition");
  ExpectOneLine(Kestro("cat " + Partition(kSampleFat) + " --offset 1G"), 1,
                disk + " partition 1: ", "beyond its end");
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.img")));
}

TEST_F(Errors, SourcesThatAreNoBlockDeviceOrStoredFileAreRefusedByName) {
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = dir.File("out.img");
  ExpectOneLine(Kestro("backup /proc/cpuinfo " + ShellQuote(out)), 1,
                "/proc/cpuinfo: ", "file the kernel makes up");
  ExpectOneLine(Kestro("info /sys/kernel/uevent_seqnum"), 1,
                "/sys/kernel/uevent_seqnum: ", "file the kernel makes up");
  ExpectOneLine(Kestro("cat " + ShellQuote(fifo)), 1, fifo + ": ", "is a FIFO");
  ExpectOneLine(Kestro("verify /dev/null " + ShellQuote(out)), 1,
                "/dev/null: ", "is a character device");
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(Errors, OutputThatCannotBeWrittenFailsEveryCommand) {
  const std::string image = ShellQuote(dir.File("fat.img"));
  const std::string volume = Partition(kSampleFat);
  ASSERT_EQ(Kestro("backup " + volume + " " + image + " -q").status, 0);
  // Standard error stays captured while standard output (or error) goes to the full device.
  const auto full = [](const std::string& command) {
    return RunCommand("(" + ShellQuote(KESTRO_PROGRAM) + " " + command + ")");
  };
  for (const std::string& command :
       {"backup " + volume + " " + ShellQuote(dir.File("again.img")) + " -q", "info " + volume,
        "verify " + volume + " " + image + " -q", "restore " + image + " " + volume + " -q",
        std::string("snapshots"), std::string("list"), "cat " + volume + " --length 1M"}) {
    const auto result = full(command + " >/dev/full");
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_NE(result.output.find("kestro: standard output: cannot write: no space left"),
              std::string::npos)
        << result.output;
  }
  EXPECT_NE(full("backup " + volume + " " + image + " -q >/dev/full")
                .output.find("the digest line of " + dir.File("fat.img") + " is lost"),
            std::string::npos);
  EXPECT_EQ(full("backup " + volume + " - -q 2>/dev/full >/dev/null").status, 1);
}

TEST_F(Errors, AnImageLargerThanTheVolumeIsRefusedBeforeAnythingIsWritten) {
  const std::string image = dir.File("fat.img");
  ASSERT_EQ(Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image) + " -q").status, 0);
  const std::string before = Sha256(disk);
  ExpectOneLine(Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleNtfs) + " -q"), 1,
                disk + " partition 2: ", "is smaller than the image");
  EXPECT_EQ(Sha256(disk), before);
}

TEST_F(Errors, AReadOnlyTargetIsRefusedAndKeepsItsBytes) {
  KESTRO_REQUIRE_TOOL("losetup");
  const auto attached = RunCommand("losetup -r -f --show " + ShellQuote(disk));
  if (attached.status != 0) GTEST_SKIP() << "no loop device: " << attached.output;
  const std::string device = Lines(attached.output).at(0);
  const std::string image = dir.File("fat.img");
  const auto backup = Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image) + " -q");
  const std::string before = Sha256(disk);
  const auto refused =
      Kestro("restore " + ShellQuote(image) + " " + ShellQuote(device) + " --partition 1 -q");
  RunCommand("losetup -d " + ShellQuote(device));
  ASSERT_EQ(backup.status, 0) << backup.output;
  // The device may refuse to be opened for writing, or refuse the first write.
  ExpectOneLine(refused, 1, device + " partition 1: ", "write-protected|permission denied");
  EXPECT_EQ(Sha256(disk), before);
}

TEST_F(Errors, TheImageIsNeverWrittenOverTheVolumesOwnFile) {
  const std::string before = Sha256(disk);
  ExpectOneLine(Kestro("backup " + ShellQuote(disk) + " " + ShellQuote(disk) + " -q"), 1,
                disk + ": ", "choose another image path");
  EXPECT_EQ(Sha256(disk), before);
}

TEST_F(Errors, BadUsageExitsWithTwo) {
  for (const std::string arguments :
       {"", "frobnicate", "backup", "backup X: out.img --hash md5", "backup X: out.img --buffer 3K",
        "backup X: out.img --buffer 2G", "restore in.img X: --hash none", "cat X: --offset 1Q",
        "info X: --partition 0"}) {
    const auto result = Kestro(arguments);
    EXPECT_EQ(result.status, 2) << arguments << "\n" << result.output;
    EXPECT_EQ(Lines(result.output).size(), 1u) << arguments << "\n" << result.output;
  }
  ExpectOneLine(Kestro("info X: --partition 1"), 2, "X: ", "--partition selects");
}

TEST_F(Errors, AFileSystemClaimingMoreThanItsDeviceHoldsIsBoundedByTheDevice) {
  // A 16 MiB FAT32 volume whose boot sector claims 2 TiB.
  const std::string volume = dir.File("oversized.img");
  MakeFat(volume, 32, 16 << 20);
  WriteBytes(volume, 32, {0xFF, 0xFF, 0xFF, 0xFF});
  const std::string claim = "the file system claims more than the device holds";

  const auto info = Kestro("info " + ShellQuote(volume));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("kestro: " + volume + ": " + claim), std::string::npos);
  EXPECT_TRUE(std::regex_search(info.output, std::regex("volume size: +16777216 ")));
  EXPECT_TRUE(std::regex_search(info.output, std::regex("claimed size: +2199023255040 ")));

  const std::string image = dir.File("out.img");
  ExpectOneLine(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q"), 1,
                volume + ": ", claim);
  EXPECT_FALSE(std::filesystem::exists(image));
  const auto rescue =
      Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " --rescue -q");
  EXPECT_EQ(rescue.status, 0) << rescue.output;
  EXPECT_EQ(FileSize(image), 16u << 20);
  EXPECT_EQ(Sha256(image), Sha256(volume));

  // The same boot sector on 8 MiB: the target is too small, whatever it claims.
  const std::string target = dir.File("target.img");
  CopyWithDd(volume, 0, 8 << 20, target);
  const std::string before = Sha256(target);
  ExpectOneLine(Kestro("restore " + ShellQuote(image) + " " + ShellQuote(target) + " -q"), 1,
                target + ": ", "is smaller than the image");
  EXPECT_EQ(FileSize(target), 8u << 20);
  EXPECT_EQ(Sha256(target), before);
}

}  // namespace
}  // namespace kestro::testing
