// kestro backup on the sample's partitions: images equal dd of the same bytes, holes where the
// volume is zero, digests the checksum tools accept, a progress bar on a terminal, and a clean
// stop on Ctrl-C.
#include <filesystem>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

nlohmann::json ReadJson(const std::string& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in);
}

class Backup : public KestroTest {};

TEST_F(Backup, EachPartitionEqualsDdOfItsBytesAndIsSparseWhereZero) {
  for (const SamplePartition& partition : {kSampleFat, kSampleNtfs}) {
    SCOPED_TRACE("partition " + std::to_string(partition.number));
    const std::string image = dir.File("p" + std::to_string(partition.number) + ".img");
    const auto result = Kestro("backup " + Partition(partition) + " " + ShellQuote(image) + " -q");
    ASSERT_EQ(result.status, 0) << result.output;

    const std::string expected = Sha256(disk, partition.offset, partition.length);
    EXPECT_EQ(FileSize(image), partition.length);
    EXPECT_EQ(Sha256(image), expected);
    // The summary ends with the digest as sha256sum prints it, and sha256sum accepts it.
    const auto lines = Lines(result.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), expected + "  " + image);
    EXPECT_EQ(
        RunCommand("printf '%s\\n' " + ShellQuote(lines.back()) + " | sha256sum -c --quiet").status,
        0);

    // dd's own sparse copy of the same bytes is the measure of what must be allocated.
    const std::string ddCopy = dir.File("dd.img");
    CopyWithDd(disk, partition.offset, partition.length, ddCopy, true);
    EXPECT_LE(AllocatedBytes(image), AllocatedBytes(ddCopy) + 16 * 1024u);
    EXPECT_LT(AllocatedBytes(image), partition.length / 4);
  }
}

TEST_F(Backup, TheSidecarSaysWhereTheVolumeEndsAndTheTailBegins) {
  const std::string image = dir.File("ntfs.img");
  ASSERT_EQ(Kestro("backup " + Partition(kSampleNtfs) + " " + ShellQuote(image) + " -q").status, 0);
  const auto sidecar = ReadJson(image + ".kestro");
  // NTFS leaves the partition's last sector, its backup boot sector, outside the volume.
  EXPECT_EQ(sidecar["volume_bytes"], kSampleNtfs.length - 512);
  EXPECT_EQ(sidecar["tail_bytes"], 512);
  EXPECT_EQ(sidecar["file_system"], "NTFS");
  EXPECT_EQ(sidecar["partition_offset"], kSampleNtfs.offset);
  EXPECT_EQ(sidecar["digest"], Sha256(image));
  // The backup boot sector is a copy of the boot sector.
  EXPECT_EQ(ReadBytes(image, kSampleNtfs.length - 512, 512), ReadBytes(image, 0, 512));

  const std::string fat = dir.File("fat.img");
  ASSERT_EQ(Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(fat) + " -q").status, 0);
  EXPECT_EQ(ReadJson(fat + ".kestro")["tail_bytes"], 0);
}

TEST_F(Backup, OtherDigestsAndNoDigestGiveTheSameImage) {
  const std::string expected = Sha256(disk, kSampleFat.offset, kSampleFat.length);
  const std::string xxh = dir.File("xxh.img");
  const auto hashed =
      Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(xxh) + " -q --hash xxh128");
  ASSERT_EQ(hashed.status, 0) << hashed.output;
  const std::string last = Lines(hashed.output).back();
  EXPECT_TRUE(std::regex_match(last.substr(0, 32), std::regex("[0-9a-f]{32}"))) << last;
  EXPECT_EQ(last.substr(32), "  " + xxh);
  EXPECT_EQ(Sha256(xxh), expected);

  const std::string plain = dir.File("plain.img");
  const auto unhashed = Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(plain) +
                               " -q --hash none --buffer 64K");
  ASSERT_EQ(unhashed.status, 0) << unhashed.output;
  EXPECT_EQ(unhashed.output.find(plain + "\n"), std::string::npos) << unhashed.output;
  EXPECT_EQ(Sha256(plain), expected);
}

TEST_F(Backup, RescueOnAHealthyVolumeWritesAnEmptyMap) {
  const std::string image = dir.File("rescued.img");
  const auto result =
      Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image) + " -q --rescue");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("unreadable: 0 sectors in 0 ranges"), std::string::npos)
      << result.output;
  EXPECT_EQ(Lines(ReadFileText(image + ".rescue-map")).size(), 2u);
  EXPECT_EQ(Sha256(image), Sha256(disk, kSampleFat.offset, kSampleFat.length));
}

TEST_F(Backup, ShowsAProgressBarOnATerminalThatAdvancesToOneHundredPercent) {
  KESTRO_REQUIRE_TOOL("script");
  const std::string image = dir.File("progress.img");
  const std::string command = ShellQuote(KESTRO_PROGRAM) + " backup " + Partition(kSampleFat) +
                              " " + ShellQuote(image) + " --buffer 64K";
  const auto result = RunCommand("script -q -e -c " + ShellQuote(command) + " /dev/null");
  ASSERT_EQ(result.status, 0) << result.output;
  std::vector<int> percents;
  const std::regex percent(R"(\] *([0-9]+)%)");
  for (auto it = std::sregex_iterator(result.output.begin(), result.output.end(), percent);
       it != std::sregex_iterator(); ++it) {
    percents.push_back(std::stoi((*it)[1]));
  }
  ASSERT_GE(percents.size(), 3u) << result.output;
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << result.output;
  EXPECT_LT(percents.front(), 50);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_NE(result.output.find("MiB/s"), std::string::npos);

  // Off a terminal only the summary appears.
  const auto quiet = Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image));
  EXPECT_EQ(quiet.output.find('%'), std::string::npos) << quiet.output;
}

TEST_F(Backup, CtrlCStopsCleanlyAndRemovesThePartialImage) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  // A large, mostly empty volume takes long enough to read that the signal finds it running.
  const std::string volume = dir.File("big.img");
  MakeFat(volume, 32, 8ull << 30);
  const std::string image = dir.File("partial.img");
  const std::string script =
      ShellQuote(KESTRO_PROGRAM) + " backup " + ShellQuote(volume) + " " + ShellQuote(image) +
      " --buffer 64K -q & pid=$!; while [ ! -e " + ShellQuote(image + ".partial") +
      " ]; do sleep 0.05; done; sleep 0.3; kill -INT $pid; wait $pid; echo status=$?";
  const auto result = RunCommand("bash -c " + ShellQuote(script));
  EXPECT_NE(result.output.find("status=1"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("interrupted; partial image removed"), std::string::npos)
      << result.output;
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_FALSE(std::filesystem::exists(image + ".partial"));
  EXPECT_FALSE(std::filesystem::exists(image + ".kestro"));
}

}  // namespace
}  // namespace kestro::testing
