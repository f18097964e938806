// What info reports, taken from the object's public members.
#include <volume/report.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace win32;

TEST(Report, CarriesTheObjectsMembers) {
  CKestro32 volume;
  volume.m_bReady = 1;
  volume.m_nFsType = FSTYPE_NTFS;
  volume.m_PartInfoEx.PartitionStyle = PARTITION_STYLE_MBR;
  volume.m_PartInfoEx.PartitionNumber = 2;
  volume.m_PartInfoEx.StartingOffset.QuadPart = 38797312;
  volume.m_PartInfoEx.PartitionLength.QuadPart = 12582912;
  volume.m_PartInfoEx.Mbr.PartitionType = 7;
  volume.m_PartInfoEx.Mbr.HiddenSectors = 75776;
  volume.m_llPartOffset = 38797312;
  volume.m_llTotalSectors = 24575;
  volume.m_llVolumeSize = 24575ull * 512;
  volume.m_llUsedBytes = 3 << 20;
  volume.m_llFreeBytes = 9 << 20;
  volume.m_bUseVss = 0;
  std::memcpy(volume.m_szSnapshotPath, u"X:\\", 8);

  const auto report = DescribeObject(volume, 512);
  EXPECT_EQ(report["ready"], true);
  EXPECT_EQ(report["file_system"]["name"], "NTFS");
  EXPECT_EQ(report["file_system"]["code"], 3);
  EXPECT_EQ(report["partition"]["style"], "MBR");
  EXPECT_EQ(report["partition"]["number"], 2);
  EXPECT_EQ(report["partition"]["offset"], 38797312);
  EXPECT_EQ(report["partition"]["length"], 12582912);
  EXPECT_EQ(report["partition"]["type"], "0x07");
  EXPECT_EQ(report["partition"]["hidden_sectors"], 75776);
  EXPECT_EQ(report["total_sectors"], 24575);
  EXPECT_EQ(report["volume_size"], 24575 * 512);
  EXPECT_EQ(report["used_bytes"], 3 << 20);
  EXPECT_EQ(report["free_bytes"], 9 << 20);
  EXPECT_EQ(report["tail_bytes"], 512);
  EXPECT_EQ(report["snapshot"]["active"], false);
  EXPECT_EQ(report["snapshot"]["path"], "X:\\");
  EXPECT_EQ(report["boot_parameters"]["layout"], "NTFS");
}

TEST(Report, NamesGptPartitionsByGuidAndName) {
  CKestro32 volume;
  volume.m_PartInfoEx.PartitionStyle = PARTITION_STYLE_GPT;
  volume.m_PartInfoEx.Gpt.PartitionType = {
      0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
  volume.m_PartInfoEx.Gpt.Attributes = 0x8000000000000001ull;
  std::memcpy(volume.m_PartInfoEx.Gpt.Name, u"Basic data", 22);
  const auto partition = DescribeObject(volume, 0)["partition"];
  EXPECT_EQ(partition["type"], "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
  EXPECT_EQ(partition["attributes"], "0x8000000000000001");
  EXPECT_EQ(partition["name"], "Basic data");
}

TEST(Report, PrintsNestedKeysAsIndentedTextWithReadableSizes) {
  const nlohmann::ordered_json report = {
      {"volume_size", 37748736}, {"ready", true}, {"snapshot", {{"active", false}}}};
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  PrintReport(report, out);
  std::fclose(out);
  EXPECT_STREQ(text,
               "volume size: 37748736 (36.0 MiB)\nready:       yes\nsnapshot:\n  active: no\n");
  std::free(text);
}
