#include <gtest/gtest.h>
#include <ondisk/mbr.h>

#include "image_builder.h"

namespace kestro::ondisk {
namespace {

using namespace images;

constexpr uint32_t kSector = 512;

void PutSlot(Image& disk, uint64_t record, unsigned index, uint8_t type, uint32_t first,
             uint32_t count) {
  const auto at = static_cast<size_t>(record * kSector + 446 + index * 16);
  disk[at + 4] = type;
  Put32(disk, at + 8, first);
  Put32(disk, at + 12, count);
}

void Sign(Image& disk, uint64_t record) {
  const auto at = static_cast<size_t>(record * kSector);
  disk[at + 510] = 0x55;
  disk[at + 511] = 0xAA;
}

// A primary NTFS partition, and an extended container at sector 200 holding logicals in the
// records at 200 and 300; links count from the container, logicals from their own record.
Image ChainedDisk() {
  Image disk(2048 * kSector);
  Put32(disk, 440, 0xCAFEF00D);
  PutSlot(disk, 0, 0, 0x07, 8, 100);
  PutSlot(disk, 0, 1, 0x05, 200, 800);
  PutSlot(disk, 200, 0, 0x07, 8, 50);
  PutSlot(disk, 200, 1, 0x05, 100, 200);
  PutSlot(disk, 300, 0, 0x0B, 8, 50);
  for (uint64_t record : {0u, 200u, 300u}) Sign(disk, record);
  return disk;
}

TEST(Mbr, ReadsTheMasterRecordAndTheExtendedChain) {
  const Image disk = ChainedDisk();
  const auto table = ReadMbr(MemoryReader(disk), kSector);
  ASSERT_TRUE(table) << table.error().reason;
  EXPECT_EQ(table->diskSignature, 0xCAFEF00Du);
  EXPECT_EQ(table->master.slots[0].type, 0x07);
  EXPECT_EQ(table->master.slots[1].offset, 446u + 16);
  EXPECT_EQ(table->extendedBase, 200u);
  ASSERT_EQ(table->chain.size(), 2u);
  EXPECT_EQ(table->chain[1].sector, 300u);
  EXPECT_EQ(table->chain[1].slots[0].type, 0x0B);
  EXPECT_EQ(table->chain[1].slots[0].offset, 300u * kSector + 446);
  EXPECT_FALSE(table->chainError);

  // Windows' checksum makes the master record's 32-bit words sum to zero.
  uint32_t sum = table->checkSum;
  for (size_t at = 0; at < 512; at += 4)
    sum += uint32_t{disk[at]} | uint32_t{disk[at + 1]} << 8 | uint32_t{disk[at + 2]} << 16 |
           uint32_t{disk[at + 3]} << 24;
  EXPECT_EQ(sum, 0u);
}

TEST(Mbr, StopsBrokenChainsAndKeepsWhatCameBefore) {
  struct Case {
    const char* what;
    Fault fault;
    size_t records;
    void (*damage)(Image&);
  };
  const Case cases[] = {
      {"link back to the first record", Fault::kChainLoop, 2,
       [](Image& disk) { PutSlot(disk, 300, 1, 0x0F, 0, 800); }},
      {"link to itself", Fault::kChainLoop, 1,
       [](Image& disk) { PutSlot(disk, 200, 1, 0x05, 0, 800); }},
      {"next record inside the previous logical partition", Fault::kBadValue, 1,
       [](Image& disk) { PutSlot(disk, 200, 0, 0x07, 8, 150); }},
      {"unsigned record", Fault::kBadSignature, 1,
       [](Image& disk) { disk[300 * kSector + 510] = 0; }},
      {"record past the end of the disk", Fault::kOutOfRange, 1,
       [](Image& disk) { PutSlot(disk, 200, 1, 0x05, 0x7FFFFFFF, 1); }},
  };
  for (const Case& c : cases) {
    Image disk = ChainedDisk();
    c.damage(disk);
    const auto table = ReadMbr(MemoryReader(disk), kSector);
    ASSERT_TRUE(table) << c.what;
    EXPECT_EQ(table->chain.size(), c.records) << c.what;
    ASSERT_TRUE(table->chainError) << c.what;
    EXPECT_EQ(table->chainError->fault, c.fault) << c.what;
  }
}

TEST(Mbr, BoundsAnEndlessChainOfDistinctRecords) {
  Image disk(1024 * kSector);
  PutSlot(disk, 0, 0, 0x05, 1, 1000);
  Sign(disk, 0);
  for (uint32_t record = 1; record < 1024; ++record) {
    PutSlot(disk, record, 1, 0x05, record, 1);  // each links to the next sector
    Sign(disk, record);
  }
  const auto table = ReadMbr(MemoryReader(disk), kSector);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->chain.size(), kMaxExtendedRecords);
  ASSERT_TRUE(table->chainError);
  EXPECT_EQ(table->chainError->fault, Fault::kChainLoop);
}

TEST(Mbr, RefusesADiskWithoutASignedMasterRecord) {
  Image disk = ChainedDisk();
  disk[511] = 0;
  EXPECT_FALSE(ReadMbr(MemoryReader(disk), kSector));
  EXPECT_FALSE(ReadMbr(MemoryReader(Image(100)), kSector));
}

}  // namespace
}  // namespace kestro::ondisk
