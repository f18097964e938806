// The GPT side of the drive layout: the disk-wide fields from the GPT header, the entries as
// libblkid read and checked them.
#include <cstring>

#include <win32/utf.h>

#include "disk_layout.h"
#include "little_endian.h"

namespace kestro::posix {
namespace {

constexpr size_t kHeaderBytes = 92;
constexpr char kHeaderSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr size_t kFirstUsableOffset = 40;
constexpr size_t kLastUsableOffset = 48;
constexpr size_t kDiskGuidOffset = 56;
constexpr size_t kEntryCountOffset = 80;
constexpr size_t kNameCharacters = 36;

// A GUID as it lies on disk: three little-endian fields, then eight bytes in order.
GUID GuidAt(const uint8_t* bytes) {
  GUID guid{};
  guid.Data1 = static_cast<DWORD>(LittleEndian(bytes, 4));
  guid.Data2 = static_cast<WORD>(LittleEndian(bytes + 4, 2));
  guid.Data3 = static_cast<WORD>(LittleEndian(bytes + 6, 2));
  std::memcpy(guid.Data4, bytes + 8, sizeof guid.Data4);
  return guid;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; anything else gives the null GUID.
GUID GuidFromText(const std::string& text) {
  static const size_t kDashes[] = {8, 13, 18, 23};
  if (text.size() != 36) return GUID{};
  uint8_t bytes[16] = {};
  size_t nibble = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3]) {
      if (text[i] != '-') return GUID{};
      continue;
    }
    const int digit = HexDigit(text[i]);
    if (digit < 0) return GUID{};
    bytes[nibble / 2] = static_cast<uint8_t>(bytes[nibble / 2] << 4 | digit);
    ++nibble;
  }
  // The text spells the three leading fields most significant byte first.
  GUID guid{};
  guid.Data1 = static_cast<DWORD>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  guid.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, sizeof guid.Data4);
  return guid;
}

// The primary header at sector 1, or the backup in the last sector when the primary is damaged.
std::optional<std::vector<uint8_t>> ReadHeader(const DiskAccess& disk) {
  const uint64_t lastSector = disk.size() / disk.sectorSize() - 1;
  for (uint64_t sector : {uint64_t{1}, lastSector}) {
    std::vector<uint8_t> header(kHeaderBytes);
    if (disk.ReadAt(header.data(), header.size(), sector * disk.sectorSize()) &&
        std::memcmp(header.data(), kHeaderSignature, sizeof kHeaderSignature) == 0) {
      return header;
    }
  }
  return std::nullopt;
}

LayoutEntry EntryOf(const PartitionEntry& partition) {
  LayoutEntry entry;
  entry.start = partition.start;
  entry.length = partition.size;
  entry.gptType = GuidFromText(partition.typeGuid);
  entry.gptId = GuidFromText(partition.uuid);
  entry.gptAttributes = partition.attributes;
  entry.gptName = FromUtf8(partition.name).substr(0, kNameCharacters);
  return entry;
}

}  // namespace

DiskLayout ReadGptLayout(const DiskAccess& disk, const PartitionTable& table) {
  DiskLayout layout;
  layout.style = PARTITION_STYLE_GPT;
  if (auto header = ReadHeader(disk)) {
    const uint64_t firstUsable = LittleEndian(header->data() + kFirstUsableOffset, 8);
    const uint64_t lastUsable = LittleEndian(header->data() + kLastUsableOffset, 8);
    layout.gptDiskId = GuidAt(header->data() + kDiskGuidOffset);
    layout.gptUsableStart = firstUsable * disk.sectorSize();
    layout.gptUsableLength =
        lastUsable >= firstUsable ? (lastUsable - firstUsable + 1) * disk.sectorSize() : 0;
    layout.gptMaxPartitions =
        static_cast<DWORD>(LittleEndian(header->data() + kEntryCountOffset, 4));
  }
  for (const PartitionEntry& partition : table.entries)
    layout.entries.push_back(EntryOf(partition));
  NumberPartitions(layout);
  return layout;
}

}  // namespace kestro::posix
