#include <gtest/gtest.h>
#include <ondisk/fat.h>

#include "image_builder.h"

namespace kestro::ondisk {
namespace {

using namespace images;

struct FatShape {
  uint16_t bytesPerSector = 512;
  uint8_t sectorsPerCluster = 1;
  uint16_t reservedSectors = 1;
  uint8_t fats = 2;
  uint16_t rootEntries = 224;
  uint32_t totalSectors = 2880;
  uint32_t fatSectors = 9;
  bool fat32 = false;
};

// A formatted volume: boot sector, empty FATs with their two reserved entries, nothing else.
Image FatImage(const FatShape& shape) {
  Image image(uint64_t{shape.totalSectors} * shape.bytesPerSector);
  Put16(image, 11, shape.bytesPerSector);
  image[13] = shape.sectorsPerCluster;
  Put16(image, 14, shape.reservedSectors);
  image[16] = shape.fats;
  Put16(image, 17, shape.rootEntries);
  Put16(image, 24, 63);
  Put16(image, 26, 255);
  if (shape.totalSectors < 0x10000) {
    Put16(image, 19, shape.totalSectors);
  } else {
    Put32(image, 32, shape.totalSectors);
  }
  const size_t record = shape.fat32 ? 64 : 36;
  if (shape.fat32) {
    Put32(image, 36, shape.fatSectors);
  } else {
    Put16(image, 22, shape.fatSectors);
  }
  image[record + 2] = 0x29;
  Put32(image, record + 3, 0x1234ABCD);
  PutText(image, record + 7, "KESTRO     ");
  image[510] = 0x55;
  image[511] = 0xAA;
  return image;
}

size_t FatStart(const FatShape& shape) {
  return size_t{shape.reservedSectors} * shape.bytesPerSector;
}

TEST(FatBootSector, ReadsTheThreeWidthsAndTheirVolumeId) {
  const FatShape fat12;
  const FatShape fat16{
      .sectorsPerCluster = 4, .rootEntries = 512, .totalSectors = 20000, .fatSectors = 20};
  const FatShape fat32{.reservedSectors = 32,
                       .rootEntries = 0,
                       .totalSectors = 4096,
                       .fatSectors = 32,
                       .fat32 = true};
  const struct {
    FatShape shape;
    unsigned bits;
    uint64_t clusters;
    uint64_t firstDataSector;
  } cases[] = {{fat12, 12, 2880 - 1 - 18 - 14, 1 + 18 + 14},
               {fat16, 16, (20000 - 1 - 40 - 32) / 4, 1 + 40 + 32},
               {fat32, 32, 4096 - 32 - 64, 32 + 64}};
  for (const auto& c : cases) {
    const Image image = FatImage(c.shape);
    const auto boot = ParseFatBootSector(std::span<const uint8_t, 512>(image.data(), 512));
    ASSERT_TRUE(boot) << c.bits << ": " << boot.error().reason;
    EXPECT_EQ(boot->fatBits, c.bits);
    EXPECT_EQ(boot->clusterCount, c.clusters) << c.bits;
    EXPECT_EQ(boot->firstDataSector, c.firstDataSector) << c.bits;
    EXPECT_TRUE(boot->hasVolumeId);
    EXPECT_EQ(boot->serialNumber, 0x1234ABCDu);
    EXPECT_EQ(boot->label[0], 'K');
  }
}

TEST(FatBootSector, RefusesParameterBlocksThatDoNotAddUp) {
  const FieldPatch cases[] = {
      {"zero bytes per sector", 11, 0, 2},         {"256 bytes per sector", 11, 256, 2},
      {"8192 bytes per sector", 11, 8192, 2},      {"1536 bytes per sector", 11, 1536, 2},
      {"zero sectors per cluster", 13, 0, 1},      {"3 sectors per cluster", 13, 3, 1},
      {"no reserved sectors", 14, 0, 2},           {"no FATs", 16, 0, 1},
      {"volume smaller than its FATs", 19, 20, 2},
  };
  for (const auto& c : cases) {
    Image image = FatImage({});
    Apply(image, c);
    const auto boot = ParseFatBootSector(std::span<const uint8_t, 512>(image.data(), 512));
    EXPECT_FALSE(boot) << c.what;
    EXPECT_FALSE(ReadFatAllocation(MemoryReader(image), RunDetail::kCountOnly)) << c.what;
  }
}

TEST(FatAllocation, CountsFreeClustersAndCoalescesAllocatedRuns) {
  // FAT12 as the tools write it: media F0h in entry 0, then a two-cluster chain (2 -> 3) and a
  // bad cluster (7, FF7h); entry 6 between them is free.
  const FatShape fat12;
  Image image12 = FatImage(fat12);
  const uint8_t entries[] = {0xF0, 0xFF, 0xFF, 0x03, 0xF0, 0xFF, 0, 0, 0, 0x00, 0x70, 0xFF};
  std::copy(std::begin(entries), std::end(entries), image12.data() + FatStart(fat12));
  const auto map12 = ReadFatAllocation(MemoryReader(image12), RunDetail::kAllocatedRuns);
  ASSERT_TRUE(map12) << map12.error().reason;
  EXPECT_EQ(map12->clusterBytes, 512u);
  EXPECT_EQ(map12->freeClusters, map12->clusterCount - 3);
  EXPECT_EQ(map12->allocated, (std::vector<ClusterRun>{{2, 2}, {7, 1}}));

  // FAT32 keeps 28 bits: an entry whose top nibble alone is set is free.
  const FatShape fat32{.reservedSectors = 32,
                       .rootEntries = 0,
                       .totalSectors = 4096,
                       .fatSectors = 32,
                       .fat32 = true};
  Image image32 = FatImage(fat32);
  for (uint32_t cluster : {2u, 3u, 4u, 4001u, 4002u}) {
    Put32(image32, FatStart(fat32) + 4 * cluster, 0x0FFFFFFF);
  }
  Put32(image32, FatStart(fat32) + 4 * 5, 0xF0000000);
  const auto map32 = ReadFatAllocation(MemoryReader(image32), RunDetail::kAllocatedRuns);
  ASSERT_TRUE(map32) << map32.error().reason;
  EXPECT_EQ(map32->clusterCount, 4000u);
  EXPECT_EQ(map32->freeClusters, 4000u - 4);  // 4001 is the last cluster, 4002 past it
  EXPECT_EQ(map32->allocated, (std::vector<ClusterRun>{{2, 3}, {4001, 1}}));

  const auto counted = ReadFatAllocation(MemoryReader(image32), RunDetail::kCountOnly);
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->freeClusters, map32->freeClusters);
  EXPECT_TRUE(counted->allocated.empty());
}

TEST(FatAllocation, RefusesAFatBeyondTheVolume) {
  const FatShape fat16{
      .sectorsPerCluster = 4, .rootEntries = 512, .totalSectors = 20000, .fatSectors = 20};
  Image image = FatImage(fat16);
  image.resize(FatStart(fat16) + 10 * 512);  // the volume ends inside the first FAT
  const auto map = ReadFatAllocation(MemoryReader(image), RunDetail::kCountOnly);
  ASSERT_FALSE(map);
  EXPECT_EQ(map.error().fault, Fault::kOutOfRange);
}

TEST(FatAllocation, RefusesEntriesThatPointOutsideTheDataClusters) {
  const FatShape fat16{
      .sectorsPerCluster = 4, .rootEntries = 512, .totalSectors = 20000, .fatSectors = 20};
  const uint64_t lastCluster = (20000 - 1 - 40 - 32) / 4 + 1;
  const struct {
    uint16_t entry;
    bool valid;
  } cases[] = {{static_cast<uint16_t>(lastCluster), true},
               {0xFFF0, true},  // reserved, but not a pointer
               {0xFFF7, true},  // bad cluster
               {1, false},
               {static_cast<uint16_t>(lastCluster + 1), false},
               {0xFFEF, false}};
  for (const auto& c : cases) {
    Image image = FatImage(fat16);
    Put16(image, FatStart(fat16) + 2 * 5, c.entry);
    const auto map = ReadFatAllocation(MemoryReader(image), RunDetail::kCountOnly);
    EXPECT_EQ(map.ok(), c.valid) << std::hex << c.entry;
    if (!c.valid && !map) {
      EXPECT_EQ(map.error().fault, Fault::kOutOfRange);
    }
  }
}

}  // namespace
}  // namespace kestro::ondisk
