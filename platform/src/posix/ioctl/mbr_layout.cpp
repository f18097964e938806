// The MBR side of the drive layout, slot by slot from the master and extended boot records,
// since Windows reports every slot (unused ones and the chain links included) in place.
#include <ondisk/mbr.h>

#include "ioctl/mbr_layout.h"
#include "storage/byte_readers.h"

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

// A chain that breaks off (unreadable, looping) keeps the records before the break, as Windows
// lists what it could read.
std::optional<DiskLayout> ReadMbrLayout(const DiskAccess& disk) {
  const auto table = ondisk::ReadMbr(DiskReader(disk), disk.sectorSize());
  if (!table) {
    FailDiskStructure(table.error());
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
