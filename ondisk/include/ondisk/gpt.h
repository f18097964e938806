// The GUID partition table: its header and the partition entries it lists, CRC-checked.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ondisk/byte_reader.h"
#include "ondisk/errors.h"

namespace kestro::ondisk {

// A GUID as it lies on disk: three little-endian fields, then eight bytes in order.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  bool operator==(const Guid&) const = default;
};

// Bounds on the entry array a header may declare; beyond them a header is refused.
inline constexpr uint32_t kMinGptEntrySize = 128;
inline constexpr uint32_t kMaxGptEntrySize = 4096;
inline constexpr uint32_t kMaxGptEntries = 16384;

struct GptHeader {
  uint64_t currentLba = 0;
  uint64_t backupLba = 0;
  uint64_t firstUsableLba = 0;
  uint64_t lastUsableLba = 0;
  Guid diskId;
  uint64_t entriesLba = 0;
  uint32_t entryCount = 0;
  uint32_t entrySize = 0;
};

struct GptEntry {
  uint32_t index = 0;  // position in the entry array, from 0
  Guid type;
  Guid id;
  uint64_t firstLba = 0;
  uint64_t lastLba = 0;  // inclusive
  uint64_t attributes = 0;
  std::u16string name;  // up to 36 UTF-16 units, cut at the first NUL
};

struct GptTable {
  GptHeader header;
  // Entries in use (a non-zero type) that lie inside the usable area, in table order.
  std::vector<GptEntry> entries;
};

// Reads the primary GPT at LBA 1, or the backup in the disk's last sector when the primary is
// missing or fails a check (signature, header CRC, sizes, entry array CRC).
Result<GptTable> ReadGpt(const ByteReader& disk, uint32_t sectorSize);

}  // namespace kestro::ondisk
