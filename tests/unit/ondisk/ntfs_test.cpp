#include <gtest/gtest.h>
#include <ondisk/ntfs.h>

#include "image_builder.h"

namespace kestro::ondisk {
namespace {

using namespace images;

constexpr size_t kClusterBytes = 4096;
constexpr uint64_t kClusters = 255;  // not a whole number of bitmap bytes
constexpr size_t kMftCluster = 4;
constexpr size_t kRecordBytes = 1024;
constexpr uint64_t kBitmapCluster = 8;
constexpr uint16_t kSequence = 0x0007;

// A FILE record with one non-resident unnamed $DATA attribute of `runs` (a mapping-pairs array),
// its update sequence applied as it lies on disk.
void PutRecord(Image& image, size_t at, uint64_t dataSize, const std::vector<uint8_t>& runs) {
  PutText(image, at, "FILE");
  Put16(image, at + 4, 48);  // update sequence array: number, then one saved pair per block
  Put16(image, at + 6, kRecordBytes / 512 + 1);
  Put16(image, at + 20, 56);  // first attribute
  const size_t attribute = at + 56;
  const size_t length = (64 + runs.size() + 1 + 7) / 8 * 8;
  Put32(image, attribute, kDataAttribute);
  Put32(image, attribute + 4, length);
  image[attribute + 8] = 1;  // non-resident
  Put16(image, attribute + 32, 64);
  Put64(image, attribute + 48, dataSize);
  Put64(image, attribute + 56, dataSize);
  std::copy(runs.begin(), runs.end(), image.data() + attribute + 64);
  Put32(image, attribute + length, 0xFFFFFFFF);
  Put32(image, at + 24, 56 + length + 8);
  for (size_t block = 1; block <= kRecordBytes / 512; ++block) {
    const size_t tail = at + block * 512 - 2;
    image[at + 48 + 2 * block] = image[tail];
    image[at + 48 + 2 * block + 1] = image[tail + 1];
    Put16(image, tail, kSequence);
  }
  Put16(image, at + 48, kSequence);
}

size_t RecordAt(size_t number) {
  return kMftCluster * kClusterBytes + number * kRecordBytes;
}

// A volume whose MFT (16 records) fills clusters 4-7 and whose bitmap lies in cluster 8.
Image NtfsImage() {
  Image image(kClusters * kClusterBytes);
  PutText(image, 3, "NTFS    ");
  Put16(image, 11, 512);
  image[13] = kClusterBytes / 512;
  Put64(image, 40, kClusters * kClusterBytes / 512);
  Put64(image, 48, kMftCluster);
  image[64] = 0xF6;  // 2^10-byte records
  PutRecord(image, RecordAt(0), 16 * kRecordBytes, {0x11, 4, kMftCluster, 0});
  PutRecord(image, RecordAt(6), 32, {0x11, 1, kBitmapCluster, 0});
  const size_t bitmap = kBitmapCluster * kClusterBytes;
  image[bitmap] = 0xFF;  // clusters 0-11: boot, MFT, bitmap and more
  image[bitmap + 1] = 0x0F;
  image[bitmap + 100 / 8] = 1 << (100 % 8);
  image[bitmap + 31] = 0x80;  // the padding bit after the last cluster
  return image;
}

std::span<const uint8_t, 512> BootOf(const Image& image) {
  return std::span<const uint8_t, 512>(image.data(), 512);
}

TEST(NtfsAllocation, ReadsTheBitmapThroughTheMft) {
  const Image image = NtfsImage();
  const auto map = ReadNtfsAllocation(MemoryReader(image), RunDetail::kAllocatedRuns);
  ASSERT_TRUE(map) << map.error().reason;
  EXPECT_EQ(map->clusterBytes, kClusterBytes);
  EXPECT_EQ(map->clusterCount, kClusters);
  EXPECT_EQ(map->freeClusters, kClusters - 13);
  EXPECT_EQ(map->allocated, (std::vector<ClusterRun>{{0, 12}, {100, 1}}));
}

TEST(NtfsBootSector, RefusesSizesOutOfRange) {
  const FieldPatch cases[] = {
      {"zero bytes per sector", 11, 0, 2},
      {"8192 bytes per sector", 11, 8192, 2},
      {"zero sectors per cluster", 13, 0, 1},
      {"3 sectors per cluster", 13, 3, 1},
      {"32 MiB clusters", 13, 0xF0, 1},
      {"zero record size", 64, 0, 1},
      {"256 KiB records", 64, 64, 1},
      {"2^32-byte records", 64, 0xE0, 1},
      {"MFT past the last cluster", 48, kClusters, 8},
      {"more clusters than the volume holds", 40, kClusters * 8 + 8, 8},
      {"another OEM name", 3, 'X', 1},
  };
  for (const auto& c : cases) {
    Image image = NtfsImage();
    Apply(image, c);
    EXPECT_FALSE(ParseNtfsBootSector(BootOf(image), image.size())) << c.what;
    EXPECT_FALSE(ReadNtfsAllocation(MemoryReader(image), RunDetail::kCountOnly)) << c.what;
  }
  const Image image = NtfsImage();
  const auto boot = ParseNtfsBootSector(BootOf(image), image.size());
  ASSERT_TRUE(boot) << boot.error().reason;
  EXPECT_EQ(boot->recordBytes, kRecordBytes);
}

TEST(NtfsAllocation, RefusesDamagedRecordsAndRunsBeyondTheVolume) {
  const struct {
    const char* what;
    Fault fault;
    void (*damage)(Image&);
  } cases[] = {
      {"torn bitmap record", Fault::kChecksum, [](Image& image) { image[RecordAt(6) + 510] ^= 1; }},
      {"bitmap run past the last cluster", Fault::kOutOfRange,
       [](Image& image) {
         PutRecord(image, RecordAt(6), 32, {0x21, 1, 0x00, 0x01, 0});
       }},
      {"bitmap shorter than the volume", Fault::kBadValue,
       [](Image& image) {
         PutRecord(image, RecordAt(6), 16, {0x11, 1, kBitmapCluster, 0});
       }},
      {"MFT runs longer than the volume", Fault::kOutOfRange,
       [](Image& image) {
         PutRecord(image, RecordAt(0), 16 * kRecordBytes, {0x12, 0x00, 0x01, 4, 0});
       }},
      {"bitmap record past the MFT's data", Fault::kOutOfRange,
       [](Image& image) {
         PutRecord(image, RecordAt(0), 4 * kRecordBytes, {0x11, 4, 4, 0});
       }},
      {"attribute longer than its record", Fault::kOutOfRange,
       [](Image& image) { Put32(image, RecordAt(0) + 56 + 4, 0x10000); }},
  };
  for (const auto& c : cases) {
    Image image = NtfsImage();
    c.damage(image);
    const auto map = ReadNtfsAllocation(MemoryReader(image), RunDetail::kCountOnly);
    ASSERT_FALSE(map) << c.what;
    EXPECT_EQ(map.error().fault, c.fault) << c.what << ": " << map.error().reason;
  }
}

TEST(NtfsRuns, DecodesSparseAndBackwardRunsAndRefusesBadPairs) {
  // 4 clusters at 16, 2 sparse, then 3 at 16 - 8.
  const uint8_t pairs[] = {0x11, 4, 16, 0x01, 2, 0x11, 3, 0xF8, 0};
  const auto runs = DecodeRuns(pairs, 100);
  ASSERT_TRUE(runs) << runs.error().reason;
  ASSERT_EQ(runs->size(), 3u);
  EXPECT_EQ((*runs)[0].lcn, 16u);
  EXPECT_TRUE((*runs)[1].sparse);
  EXPECT_EQ((*runs)[2].vcn, 6u);
  EXPECT_EQ((*runs)[2].lcn, 8u);

  const std::vector<std::vector<uint8_t>> bad = {
      {0x11, 4, 0xF0, 0},             // starts before cluster 0
      {0x10, 4, 0},                   // no length
      {0x19, 1, 1, 0},                // a nine-byte length
      {0x21, 4, 1},                   // truncated
      {0x11, 60, 1, 0x11, 60, 1, 0},  // together longer than the volume
      {0x81, 1,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x81,
       1,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0},  // starts far past the end
  };
  for (const auto& runBytes : bad) EXPECT_FALSE(DecodeRuns(runBytes, 100)) << int(runBytes[0]);
}

}  // namespace
}  // namespace kestro::ondisk
