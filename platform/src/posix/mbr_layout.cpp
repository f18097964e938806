// The MBR side of the drive layout, slot by slot from the master and extended boot records,
// since Windows reports every slot (unused ones and the chain links included) in place.
#include <ondisk/mbr.h>
#include <win32/errors.h>

#include "byte_readers.h"
#include "disk_layout.h"
#include "errno_map.h"

namespace kestro::posix {
namespace {

namespace ondisk = kestro::ondisk;

// The entry for a used slot whose start counts from sector `base` of the disk.
LayoutEntry EntryOf(const ondisk::MbrSlot& slot, uint64_t base, uint32_t sectorSize) {
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

// Logical partitions count from their own record; chain links from the outermost container.
void AddExtendedRecords(const ondisk::MbrTable& table, uint32_t sectorSize, DiskLayout& layout) {
  for (const ondisk::BootRecord& record : table.chain) {
    for (const ondisk::MbrSlot& slot : record.slots) {
      const bool link = ondisk::IsExtendedType(slot.type);
      layout.entries.push_back(
          EntryOf(slot, link ? *table.extendedBase : record.sector, sectorSize));
    }
  }
}

}  // namespace

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
    const bool counted =
        layout.style == PARTITION_STYLE_GPT ||
        (entry.mbrType != kPartitionTypeUnused && !ondisk::IsExtendedType(entry.mbrType));
    entry.number = counted ? ++number : 0;
  }
}

// A chain that breaks off (unreadable, looping) keeps the records before the break, as Windows
// lists what it could read.
std::optional<DiskLayout> ReadMbrLayout(const DiskAccess& disk) {
  const auto table = ondisk::ReadMbr(DiskReader(disk), disk.sectorSize());
  if (!table) {
    Fail(ERROR_IO_DEVICE);
    return std::nullopt;
  }
  DiskLayout layout;
  layout.style = PARTITION_STYLE_MBR;
  layout.mbrSignature = table->diskSignature;
  layout.mbrCheckSum = table->checkSum;
  for (const ondisk::MbrSlot& slot : table->master.slots) {
    layout.entries.push_back(EntryOf(slot, 0, disk.sectorSize()));
  }
  AddExtendedRecords(*table, disk.sectorSize(), layout);
  NumberPartitions(layout);
  return layout;
}

}  // namespace kestro::posix
