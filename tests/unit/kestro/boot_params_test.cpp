// The parameter block decoded from boot sectors that the real formatting tools wrote.
#include <volume/boot_params.h>

#include <Kestro32.h>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

namespace {

// Formats a fresh image of `size` bytes with `command` (the image's path is appended) and
// decodes its boot sector as the object would hold it.
nlohmann::ordered_json FormatAndDecode(const std::string& command, uint64_t size, unsigned fsType) {
  TempDir dir;
  const std::string path = dir.File("volume.img");
  CreateSparseFile(path, size);
  const auto formatted = RunCommand(command + " " + ShellQuote(path));
  if (formatted.status != 0) ADD_FAILURE() << formatted.output;
  const auto bytes = ReadBytes(path, kBootParamsFirstByte, kBootParamsLength);
  return DecodeBootParams(fsType, bytes.data());
}

}  // namespace

TEST(BootParams, DecodesFat16) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const auto params =
      FormatAndDecode("mkfs.fat -F 16 -s 4 -h 63 -i 1234ABCD -n LABEL16", 16 << 20, FSTYPE_FAT16);
  EXPECT_EQ(params["layout"], "FAT12/FAT16");
  EXPECT_EQ(params["bytes_per_sector"], 512);
  EXPECT_EQ(params["sectors_per_cluster"], 4);
  EXPECT_EQ(params["fat_count"], 2);
  EXPECT_EQ(params["total_sectors_16"], 32768);  // small volumes keep the 16-bit count
  EXPECT_EQ(params["total_sectors_32"], 0);
  EXPECT_EQ(params["hidden_sectors"], 63);
  EXPECT_EQ(params["media_descriptor"], "0xf8");
  EXPECT_EQ(params["volume_id"], "1234-ABCD");
  EXPECT_EQ(params["volume_label"], "LABEL16");
  EXPECT_EQ(params["file_system_type"], "FAT16");
}

TEST(BootParams, DecodesFat32) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const auto params =
      FormatAndDecode("mkfs.fat -F 32 -s 1 -i 0BADF00D -n LABEL32", 64 << 20, FSTYPE_FAT32);
  EXPECT_EQ(params["layout"], "FAT32");
  EXPECT_EQ(params["total_sectors_32"], 131072);
  EXPECT_EQ(params["sectors_per_fat_16"], 0);
  EXPECT_GT(params["sectors_per_fat_32"].get<uint64_t>(), 0u);
  EXPECT_EQ(params["root_cluster"], 2);
  EXPECT_EQ(params["fsinfo_sector"], 1);
  EXPECT_EQ(params["backup_boot_sector"], 6);
  EXPECT_EQ(params["boot_signature"], "0x29");
  EXPECT_EQ(params["volume_id"], "0BAD-F00D");
  EXPECT_EQ(params["volume_label"], "LABEL32");
}

TEST(BootParams, DecodesNtfs) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  const auto params =
      FormatAndDecode("mkntfs -F -f -q -c 4096 -s 512 -p 2048 2>/dev/null", 32 << 20, FSTYPE_NTFS);
  EXPECT_EQ(params["layout"], "NTFS");
  EXPECT_EQ(params["sectors_per_cluster"], 8);
  EXPECT_EQ(params["hidden_sectors"], 2048);
  EXPECT_EQ(params["total_sectors"], (32 << 20) / 512 - 1);  // the last sector holds the backup
  EXPECT_GT(params["mft_cluster"].get<uint64_t>(), 0u);
  EXPECT_EQ(params["clusters_per_file_record"], -10);
  EXPECT_EQ(params["file_record_bytes"], 1024);
  EXPECT_EQ(params["index_block_bytes"], 4096);
}

TEST(BootParams, ShowsTheBytesOfAnUnknownFileSystem) {
  uint8_t bytes[kBootParamsLength] = {0x00, 0x02, 0xff};
  const auto params = DecodeBootParams(FSTYPE_UNKNOWN, bytes);
  EXPECT_EQ(params["layout"], "unknown");
  EXPECT_EQ(params["bytes"].get<std::string>().substr(0, 12), "00 02 ff 00 ");
}
