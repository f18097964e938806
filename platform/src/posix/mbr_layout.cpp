// The MBR side of the drive layout, read slot by slot from the master and extended boot records,
// since Windows reports every slot (unused ones and the chain links included) in place.
#include <set>

#include <win32/errors.h>

#include "disk_layout.h"
#include "errno_map.h"
#include "little_endian.h"

namespace kestro::posix {
namespace {

constexpr size_t kBootRecordBytes = 512;
constexpr size_t kDiskSignatureOffset = 440;
constexpr size_t kSlotTableOffset = 446;
constexpr size_t kSlotBytes = 16;
constexpr unsigned kSlotsPerRecord = 4;
constexpr size_t kBootMarkOffset = 510;
// A corrupt chain of extended boot records must not send the walk round in circles.
constexpr unsigned kMaxExtendedRecords = 256;

struct Slot {
  uint8_t status = 0;
  uint8_t type = 0;
  uint32_t firstSector = 0;  // relative to the record's base, as the slot stores it
  uint32_t sectorCount = 0;
  uint64_t offset = 0;  // disk byte offset of the slot
};

struct BootRecord {
  uint64_t sector = 0;  // where the record lies, in logical sectors
  std::vector<uint8_t> bytes;

  Slot SlotAt(unsigned index, uint32_t sectorSize) const {
    const uint8_t* raw = bytes.data() + kSlotTableOffset + index * kSlotBytes;
    return Slot{raw[0], raw[4], LittleEndian32(raw + 8), LittleEndian32(raw + 12),
                sector * sectorSize + kSlotTableOffset + index * kSlotBytes};
  }
};

// Reads the boot record at logical sector `sector`; nullopt when it lies off the disk or lacks
// the 55 AA mark.
std::optional<BootRecord> ReadBootRecord(const DiskAccess& disk, uint64_t sector) {
  if (sector >= disk.size() / disk.sectorSize()) return std::nullopt;
  BootRecord record{sector, std::vector<uint8_t>(kBootRecordBytes)};
  if (!disk.ReadAt(record.bytes.data(), kBootRecordBytes, sector * disk.sectorSize()) ||
      record.bytes[kBootMarkOffset] != 0x55 || record.bytes[kBootMarkOffset + 1] != 0xAA) {
    return std::nullopt;
  }
  return record;
}

// The entry for a used slot whose start counts from sector `base` of the disk.
LayoutEntry EntryOf(const Slot& slot, uint64_t base, uint32_t sectorSize) {
  LayoutEntry entry;
  if (slot.type == kPartitionTypeUnused) return entry;
  entry.start = (base + slot.firstSector) * sectorSize;
  entry.length = uint64_t{slot.sectorCount} * sectorSize;
  entry.mbrType = slot.type;
  entry.bootable = (slot.status & 0x80) != 0;
  entry.hiddenSectors = slot.firstSector;
  entry.slotOffset = slot.offset;
  return entry;
}

// Windows' checksum of the master boot record: the negated sum of its 32-bit words.
DWORD CheckSumOf(const std::vector<uint8_t>& record) {
  uint32_t sum = 0;
  for (size_t at = 0; at < kBootRecordBytes; at += 4) sum += LittleEndian32(record.data() + at);
  return 0u - sum;
}

// Appends the slots of the extended boot records chained from the container at `base`. Logical
// partitions count from their own record; chain links count from the outermost container.
void AddExtendedRecords(const DiskAccess& disk, uint64_t base, DiskLayout& layout) {
  std::set<uint64_t> visited;
  uint64_t next = base;
  bool linked = true;
  while (linked && visited.size() < kMaxExtendedRecords && visited.insert(next).second) {
    auto record = ReadBootRecord(disk, next);
    if (!record) return;
    linked = false;
    for (unsigned i = 0; i < kSlotsPerRecord; ++i) {
      const Slot slot = record->SlotAt(i, disk.sectorSize());
      const bool link = IsContainerType(slot.type);
      layout.entries.push_back(EntryOf(slot, link ? base : record->sector, disk.sectorSize()));
      if (link && !linked) {
        next = base + slot.firstSector;
        linked = true;
      }
    }
  }
}

}  // namespace

bool IsContainerType(BYTE type) {
  return type == 0x05 || type == 0x0F;
}

bool IsRecognizedType(BYTE type) {
  switch (type) {
    case 0x01:  // FAT12
    case 0x04:  // FAT16
    case 0x06:  // FAT16 over 32 MiB
    case 0x07:  // IFS: NTFS, exFAT
    case 0x0B:  // FAT32
    case 0x0C:  // FAT32 with LBA
    case 0x0E:  // FAT16 with LBA
      return true;
  }
  // A fault-tolerant set member (0x80) counts when it stands for one of the larger types.
  const BYTE member = static_cast<BYTE>(type & ~0xC0);
  return (type & 0x80) && (member == 0x06 || member == 0x07 || member == 0x0B || member == 0x0C);
}

void NumberPartitions(DiskLayout& layout) {
  DWORD number = 0;
  for (LayoutEntry& entry : layout.entries) {
    const bool counted = layout.style == PARTITION_STYLE_GPT ||
                         (entry.mbrType != kPartitionTypeUnused && !IsContainerType(entry.mbrType));
    entry.number = counted ? ++number : 0;
  }
}

std::optional<DiskLayout> ReadMbrLayout(const DiskAccess& disk) {
  auto master = ReadBootRecord(disk, 0);
  if (!master) {
    Fail(ERROR_IO_DEVICE);
    return std::nullopt;
  }
  DiskLayout layout;
  layout.style = PARTITION_STYLE_MBR;
  layout.mbrSignature = LittleEndian32(master->bytes.data() + kDiskSignatureOffset);
  layout.mbrCheckSum = CheckSumOf(master->bytes);
  std::optional<uint64_t> extendedBase;
  for (unsigned i = 0; i < kSlotsPerRecord; ++i) {
    const Slot slot = master->SlotAt(i, disk.sectorSize());
    layout.entries.push_back(EntryOf(slot, 0, disk.sectorSize()));
    if (IsContainerType(slot.type) && !extendedBase) extendedBase = slot.firstSector;
  }
  if (extendedBase) AddExtendedRecords(disk, *extendedBase, layout);
  NumberPartitions(layout);
  return layout;
}

}  // namespace kestro::posix
