#include <gtest/gtest.h>
#include <ondisk/crc32.h>
#include <ondisk/gpt.h>

#include "image_builder.h"

namespace kestro::ondisk {
namespace {

using namespace images;

constexpr uint32_t kSector = 512;
constexpr uint64_t kSectors = 128;
constexpr uint32_t kEntries = 128;
constexpr uint32_t kEntryBytes = 128;
constexpr uint64_t kEntrySectors = kEntries * kEntryBytes / kSector;

void PutEntry(Image& disk, uint64_t arrayLba, uint32_t index, uint8_t type, uint64_t first,
              uint64_t last, const char* name) {
  const auto at = static_cast<size_t>(arrayLba * kSector + index * kEntryBytes);
  disk[at] = type;
  disk[at + 16] = static_cast<uint8_t>(index + 1);
  Put64(disk, at + 32, first);
  Put64(disk, at + 40, last);
  Put64(disk, at + 48, 0x8000000000000001);
  for (size_t i = 0; name[i] != 0; ++i)
    Put16(disk, at + 56 + 2 * i, static_cast<unsigned char>(name[i]));
}

// Writes the header at `lba` for the array at `arrayLba`, with both CRCs computed.
void PutHeader(Image& disk, uint64_t lba, uint64_t backupLba, uint64_t arrayLba,
               uint32_t entries = kEntries, uint32_t entryBytes = kEntryBytes) {
  const auto at = static_cast<size_t>(lba * kSector);
  PutText(disk, at, "EFI PART");
  Put32(disk, at + 8, 0x00010000);
  Put32(disk, at + 12, 92);
  Put32(disk, at + 16, 0);
  Put64(disk, at + 24, lba);
  Put64(disk, at + 32, backupLba);
  Put64(disk, at + 40, 34);
  Put64(disk, at + 48, kSectors - 34);
  disk[at + 56] = 0xD1;
  Put64(disk, at + 72, arrayLba);
  Put32(disk, at + 80, entries);
  Put32(disk, at + 84, entryBytes);
  const uint64_t arrayBytes =
      std::min<uint64_t>(uint64_t{entries} * entryBytes, disk.size() - arrayLba * kSector);
  Put32(disk, at + 88,
        Crc32({&disk[static_cast<size_t>(arrayLba * kSector)], static_cast<size_t>(arrayBytes)}));
  Put32(disk, at + 16, Crc32({&disk[at], 92}));
}

// Two partitions in entries 0 and 2 (entry 1 unused), in both copies of the table.
Image GptDisk() {
  Image disk(kSectors * kSector);
  const uint64_t backupArray = kSectors - 1 - kEntrySectors;
  for (uint64_t array : {uint64_t{2}, backupArray}) {
    PutEntry(disk, array, 0, 0xAF, 40, 49, "data");
    PutEntry(disk, array, 2, 0xEB, 60, 69, "");
    PutEntry(disk, array, 3, 0xEB, 20, 30, "before the usable area");
  }
  PutHeader(disk, 1, kSectors - 1, 2);
  PutHeader(disk, kSectors - 1, 1, backupArray);
  return disk;
}

TEST(Gpt, Crc32MatchesTheStandardCheckValue) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(text), 0xCBF43926u);
}

TEST(Gpt, ReadsTheEntriesInUseFromThePrimaryOrTheBackup) {
  Image disk = GptDisk();
  for (const char* copy : {"primary", "backup"}) {
    const auto table = ReadGpt(MemoryReader(disk), kSector);
    ASSERT_TRUE(table) << copy << ": " << table.error().reason;
    EXPECT_EQ(table->header.currentLba, copy == std::string("primary") ? 1 : kSectors - 1);
    EXPECT_EQ(table->header.diskId.data1, 0xD1u);
    EXPECT_EQ(table->header.entryCount, kEntries);
    ASSERT_EQ(table->entries.size(), 2u) << copy;
    EXPECT_EQ(table->entries[0].name, u"data");
    EXPECT_EQ(table->entries[0].id.data1, 1u);
    EXPECT_EQ(table->entries[0].attributes, 0x8000000000000001u);
    EXPECT_EQ(table->entries[1].index, 2u);
    EXPECT_EQ(table->entries[1].lastLba, 69u);
    disk[2 * kSector + 40] ^= 1;  // the primary's entries no longer match their CRC
  }
}

TEST(Gpt, RefusesEntryCountsAndSizesOutOfRange) {
  const struct {
    uint32_t entries;
    uint32_t entryBytes;
  } cases[] = {{0, 128},          {kMaxGptEntries + 1, 128},
               {0xFFFFFFFF, 128}, {128, 0},
               {128, 64},         {128, 192},
               {128, 8192},       {1024, 1024}};
  for (const auto& c : cases) {
    Image disk = GptDisk();
    PutHeader(disk, 1, kSectors - 1, 2, c.entries, c.entryBytes);
    PutHeader(disk, kSectors - 1, 1, kSectors - 1 - kEntrySectors, c.entries, c.entryBytes);
    const auto table = ReadGpt(MemoryReader(disk), kSector);
    ASSERT_FALSE(table) << c.entries << " x " << c.entryBytes;
    EXPECT_NE(table.error().fault, Fault::kChecksum) << c.entries << " x " << c.entryBytes;
  }
}

TEST(Gpt, RefusesDamagedHeaders) {
  Image disk = GptDisk();
  disk[1 * kSector + 60] ^= 1;
  disk[(kSectors - 1) * kSector + 60] ^= 1;
  const auto table = ReadGpt(MemoryReader(disk), kSector);
  ASSERT_FALSE(table);
  EXPECT_EQ(table.error().fault, Fault::kChecksum);
  EXPECT_FALSE(ReadGpt(MemoryReader(Image(2 * kSector)), kSector));
}

}  // namespace
}  // namespace kestro::ondisk
