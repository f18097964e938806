#include "ondisk/gpt.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "ondisk/crc32.h"
#include "ondisk/little_endian.h"

namespace kestro::ondisk {
namespace {

constexpr char kSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr uint32_t kMinHeaderBytes = 92;
constexpr size_t kHeaderCrcOffset = 16;
constexpr size_t kNameOffset = 56;
constexpr size_t kNameUnits = 36;

Guid GuidAt(const uint8_t* bytes) {
  Guid guid;
  guid.data1 = LittleEndian32(bytes);
  guid.data2 = LittleEndian16(bytes + 4);
  guid.data3 = LittleEndian16(bytes + 6);
  std::copy_n(bytes + 8, guid.data4.size(), guid.data4.begin());
  return guid;
}

// Checks the signature, the header's own CRC and where it says it lies.
Result<GptHeader> ParseHeader(std::vector<uint8_t>& sector, uint64_t lba) {
  if (std::memcmp(sector.data(), kSignature, sizeof kSignature) != 0) {
    return Error{Fault::kBadSignature, "no EFI PART signature"};
  }
  const uint32_t headerBytes = LittleEndian32(&sector[12]);
  if (headerBytes < kMinHeaderBytes || headerBytes > sector.size()) {
    return Error{Fault::kBadValue, "GPT header size out of range"};
  }
  const uint32_t storedCrc = LittleEndian32(&sector[kHeaderCrcOffset]);
  std::fill_n(&sector[kHeaderCrcOffset], 4, 0);
  if (Crc32({sector.data(), headerBytes}) != storedCrc) {
    return Error{Fault::kChecksum, "GPT header CRC mismatch"};
  }
  GptHeader header;
  header.currentLba = LittleEndian64(&sector[24]);
  header.backupLba = LittleEndian64(&sector[32]);
  header.firstUsableLba = LittleEndian64(&sector[40]);
  header.lastUsableLba = LittleEndian64(&sector[48]);
  header.diskId = GuidAt(&sector[56]);
  header.entriesLba = LittleEndian64(&sector[72]);
  header.entryCount = LittleEndian32(&sector[80]);
  header.entrySize = LittleEndian32(&sector[84]);
  if (header.currentLba != lba) return Error{Fault::kBadValue, "GPT header at the wrong LBA"};
  if (header.entryCount == 0 || header.entryCount > kMaxGptEntries) {
    return Error{Fault::kBadValue, "GPT entry count out of range"};
  }
  if (header.entrySize < kMinGptEntrySize || header.entrySize > kMaxGptEntrySize ||
      !std::has_single_bit(header.entrySize)) {
    return Error{Fault::kBadValue, "GPT entry size out of range"};
  }
  return header;
}

GptEntry EntryAt(const uint8_t* bytes, uint32_t index) {
  GptEntry entry;
  entry.index = index;
  entry.type = GuidAt(bytes);
  entry.id = GuidAt(bytes + 16);
  entry.firstLba = LittleEndian64(bytes + 32);
  entry.lastLba = LittleEndian64(bytes + 40);
  entry.attributes = LittleEndian64(bytes + 48);
  for (size_t i = 0; i < kNameUnits; ++i) {
    const char16_t unit = LittleEndian16(bytes + kNameOffset + 2 * i);
    if (unit == 0) break;
    entry.name.push_back(unit);
  }
  return entry;
}

bool InUse(const GptEntry& entry, const GptHeader& header) {
  return entry.type != Guid{} && entry.firstLba <= entry.lastLba &&
         entry.firstLba >= header.firstUsableLba && entry.lastLba <= header.lastUsableLba;
}

// Reads and checks the entry array the header points to.
Result<std::vector<GptEntry>> ReadEntries(const ByteReader& disk, uint32_t sectorSize,
                                          const GptHeader& header, uint32_t expectedCrc) {
  const uint64_t bytes = uint64_t{header.entryCount} * header.entrySize;
  if (header.entriesLba > disk.Size() / sectorSize ||
      !FitsWithin(header.entriesLba * sectorSize, bytes, disk.Size())) {
    return Error{Fault::kOutOfRange, "GPT entries beyond the disk"};
  }
  std::vector<uint8_t> array(static_cast<size_t>(bytes));
  if (Status read = disk.Read(header.entriesLba * sectorSize, array.size(), array.data());
      !read.ok()) {
    return read.error();
  }
  if (Crc32(array) != expectedCrc) return Error{Fault::kChecksum, "GPT entry array CRC mismatch"};
  std::vector<GptEntry> entries;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    GptEntry entry = EntryAt(&array[size_t{i} * header.entrySize], i);
    if (InUse(entry, header)) entries.push_back(std::move(entry));
  }
  return entries;
}

Result<GptTable> ReadCopy(const ByteReader& disk, uint32_t sectorSize, uint64_t lba) {
  std::vector<uint8_t> sector(sectorSize);
  if (Status read = disk.Read(lba * sectorSize, sector.size(), sector.data()); !read.ok()) {
    return read.error();
  }
  auto header = ParseHeader(sector, lba);
  if (!header) return header.error();
  auto entries = ReadEntries(disk, sectorSize, *header, LittleEndian32(&sector[88]));
  if (!entries) return entries.error();
  return GptTable{*header, std::move(*entries)};
}

}  // namespace

Result<GptTable> ReadGpt(const ByteReader& disk, uint32_t sectorSize) {
  if (sectorSize < 512 || !std::has_single_bit(sectorSize)) {
    return Error{Fault::kBadValue, "sector size out of range"};
  }
  const uint64_t sectors = disk.Size() / sectorSize;
  if (sectors < 3) return Error{Fault::kOutOfRange, "disk too small for a GPT"};
  auto primary = ReadCopy(disk, sectorSize, 1);
  if (primary) return primary;
  auto backup = ReadCopy(disk, sectorSize, sectors - 1);
  return backup ? backup : primary;
}

}  // namespace kestro::ondisk
