// info, cat, list, demo and --help, checked against what the formatting and partitioning tools
// say about the sample.
#include <filesystem>
#include <regex>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

uint64_t LittleEndian(const std::vector<uint8_t>& bytes) {
  uint64_t value = 0;
  for (size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

// The number that the one group of `pattern` captures in `text`, spaces between digits dropped.
uint64_t NumberIn(const std::string& text, const std::string& pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) return 0;
  std::string digits = match[1];
  digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
  return std::stoull(digits);
}

class Commands : public KestroTest {
 protected:
  nlohmann::json Info(const SamplePartition& partition) {
    const auto result = KestroOutput("info " + Partition(partition) + " --json");
    EXPECT_EQ(result.status, 0) << result.output;
    return nlohmann::json::parse(result.output);
  }
};

TEST_F(Commands, InfoJsonOfTheFatPartitionMatchesTheTools) {
  KESTRO_REQUIRE_TOOL("mdir");
  const auto info = Info(kSampleFat);
  EXPECT_EQ(info["ready"], true);
  EXPECT_EQ(info["file_system"]["name"], "FAT32");
  EXPECT_EQ(info["partition"]["style"], "MBR");
  EXPECT_EQ(info["partition"]["number"], 1);
  EXPECT_EQ(info["partition"]["offset"], kSampleFat.offset);
  EXPECT_EQ(info["partition"]["length"], kSampleFat.length);
  EXPECT_EQ(info["partition"]["type"], "0x0c");
  EXPECT_EQ(info["partition_offset"], kSampleFat.offset);
  const uint64_t sectors = LittleEndian(ReadBytes(disk, kSampleFat.offset + 32, 4));
  EXPECT_EQ(info["total_sectors"], sectors);
  EXPECT_EQ(info["volume_size"], sectors * 512);
  EXPECT_EQ(info["tail_bytes"], 0);
  const auto mdir = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + ShellQuote(disk) + "@@1M ::");
  EXPECT_EQ(info["free_bytes"], NumberIn(mdir.output, "([0-9][0-9 ]*) bytes free")) << mdir.output;
  EXPECT_GT(info["used_bytes"].get<uint64_t>(), 0u);
  EXPECT_EQ(info["snapshot"]["active"], false);
  EXPECT_EQ(info["boot_parameters"]["layout"], "FAT32");
  EXPECT_EQ(info["boot_parameters"]["hidden_sectors"], 2048);
  EXPECT_EQ(info["boot_parameters"]["volume_label"], "KESTRO-FAT");
}

TEST_F(Commands, InfoJsonOfTheNtfsPartitionMatchesTheToolsAndCountsTheTail) {
  KESTRO_REQUIRE_TOOL("ntfscluster");
  const auto info = Info(kSampleNtfs);
  EXPECT_EQ(info["file_system"]["name"], "NTFS");
  EXPECT_EQ(info["partition"]["offset"], kSampleNtfs.offset);
  EXPECT_EQ(info["partition"]["length"], kSampleNtfs.length);
  EXPECT_EQ(info["partition"]["type"], "0x07");
  const uint64_t sectors = LittleEndian(ReadBytes(disk, kSampleNtfs.offset + 40, 8));
  EXPECT_EQ(info["total_sectors"], sectors);
  EXPECT_EQ(info["volume_size"], sectors * 512);
  EXPECT_EQ(info["tail_bytes"], kSampleNtfs.length - sectors * 512);
  const std::string volume = dir.File("ntfs.img");
  CopyWithDd(disk, kSampleNtfs.offset, kSampleNtfs.length, volume);
  const auto cluster = RunCommand("ntfscluster -f " + ShellQuote(volume));
  EXPECT_EQ(info["free_bytes"], NumberIn(cluster.output, "bytes of free space\\s*:\\s*([0-9]+)"))
      << cluster.output;
  EXPECT_EQ(info["boot_parameters"]["total_sectors"], sectors);
  EXPECT_EQ(info["boot_parameters"]["hidden_sectors"], 75776);
}

TEST_F(Commands, InfoTextNamesEveryMemberAndDecodesTheParameterBlock) {
  const auto result = KestroOutput("info " + Partition(kSampleNtfs));
  ASSERT_EQ(result.status, 0) << result.output;
  for (const char* label :
       {"ready:", "file system:", "partition:", "style:", "total sectors:", "volume size:",
        "used bytes:", "free bytes:", "tail bytes:", "snapshot:", "boot parameters:",
        "mft cluster:", "file record bytes:"}) {
    EXPECT_NE(result.output.find(label), std::string::npos) << label << "\n" << result.output;
  }
}

TEST_F(Commands, CatWritesTheVolumesRawBytes) {
  EXPECT_EQ(
      KestroOutput("cat " + Partition(kSampleFat) + " --offset 510 --length 2 | xxd -p").output,
      "55aa\n");
  const auto whole = KestroOutput("cat " + Partition(kSampleFat) + " | sha256sum");
  EXPECT_EQ(whole.output.substr(0, 64), Sha256(disk, kSampleFat.offset, kSampleFat.length));
  // Unaligned at both ends and longer than one transfer.
  const auto middle =
      KestroOutput("cat " + Partition(kSampleNtfs) + " --offset 1001 --length 5M | sha256sum");
  EXPECT_EQ(middle.output.substr(0, 64), Sha256(disk, kSampleNtfs.offset + 1001, 5 << 20));
  // Past the end it stops at the end of the volume.
  const auto last = KestroOutput("cat " + Partition(kSampleNtfs) + " --offset " +
                                 std::to_string(kSampleNtfs.length - 1024) + " | wc -c");
  EXPECT_EQ(std::stoul(last.output), 512u);
}

TEST_F(Commands, ListShowsMappedDrivesAndBlockDevices) {
  ScopedEnv drive("KESTRO_DRIVE_Y", disk);
  ScopedEnv partition("KESTRO_DRIVE_Y_PARTITION", "2");
  const auto result = Kestro("list");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(std::regex_search(result.output, std::regex("\\nY:\\s+NTFS\\s+12\\.0 MiB")))
      << result.output;
  EXPECT_NE(result.output.find("Block devices"), std::string::npos) << result.output;
}

TEST_F(Commands, DemoBacksUpAndVerifiesBothSamplePartitions) {
  ScopedEnv temporary("TMPDIR", dir.path());
  const auto result = Kestro("demo --quiet");
  ASSERT_EQ(result.status, 0) << result.output;
  for (const char* step : {"$ kestro info", "$ kestro backup", "$ kestro verify"}) {
    size_t count = 0;
    for (size_t at = 0; (at = result.output.find(step, at)) != std::string::npos; ++at) ++count;
    EXPECT_EQ(count, 2u) << step << "\n" << result.output;
  }
  EXPECT_NE(result.output.find("FAT32"), std::string::npos);
  EXPECT_NE(result.output.find("NTFS"), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("kestro-demo-", 0), std::string::npos)
        << "left behind: " << entry.path();
  }
}

TEST_F(Commands, EverySubcommandHasHelp) {
  for (const char* command : {"", "list", "info", "backup", "restore", "verify", "cat", "demo"}) {
    const auto result = Kestro(std::string(command) + " --help");
    EXPECT_EQ(result.status, 0) << command;
    EXPECT_NE(result.output.find("Usage:"), std::string::npos) << command << result.output;
  }
}

}  // namespace
}  // namespace kestro::testing
