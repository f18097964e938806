#include "ioctl/partition_layout.h"

#include <algorithm>

#include <ondisk/mbr.h>
#include <win32/errors.h>

#include "errno_map.h"
#include "ioctl/gpt_layout.h"
#include "ioctl/mbr_layout.h"
#include "storage/partition_table.h"

namespace kestro::posix {
namespace {

// Windows marks the single partition of an unpartitioned disk with this disk signature.
constexpr DWORD kSuperfloppySignature = 1;
constexpr uint64_t kBootSignatureOffset = 510;
constexpr BYTE kBootSignature[2] = {0x55, 0xAA};

// Windows takes a disk without a partition table for one whole-disk volume only when it is
// removable or its first sector ends in the boot signature; any other such disk is blank.
// nullopt with the last error set when the first sector cannot be read.
std::optional<bool> IsSuperfloppy(const DiskAccess& disk) {
  if (disk.facts().removable) return true;
  BYTE signature[2] = {};
  if (disk.size() < kBootSignatureOffset + sizeof signature) return false;
  if (!disk.ReadAt(signature, sizeof signature, kBootSignatureOffset)) return std::nullopt;
  return signature[0] == kBootSignature[0] && signature[1] == kBootSignature[1];
}

DiskLayout RawLayout() {
  DiskLayout layout;
  layout.style = PARTITION_STYLE_RAW;
  return layout;
}

DiskLayout SuperfloppyLayout(const DiskAccess& disk) {
  DiskLayout layout;
  layout.style = PARTITION_STYLE_MBR;
  layout.mbrSignature = kSuperfloppySignature;
  LayoutEntry whole;
  whole.length = disk.size();
  whole.mbrType = kPartitionTypeFat16;
  layout.entries.push_back(whole);
  NumberPartitions(layout);
  return layout;
}

// A partition holds no more than its disk does, whatever its table entry claims.
std::optional<DiskLayout> BoundedByDisk(std::optional<DiskLayout> layout, uint64_t diskSize) {
  if (!layout) return layout;
  for (LayoutEntry& entry : layout->entries) {
    const uint64_t room = entry.start < diskSize ? diskSize - entry.start : 0;
    entry.length = std::min(entry.length, room);
  }
  return layout;
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
        (entry.mbrType != kPartitionTypeUnused && !kestro::ondisk::IsExtendedType(entry.mbrType));
    entry.number = counted ? ++number : 0;
  }
}

std::optional<DiskLayout> ReadDiskLayout(const DiskAccess& disk) {
  auto table = ReadPartitionTable(disk.fd(), disk.size());
  if (!table) {
    Fail(ERROR_IO_DEVICE);
    return std::nullopt;
  }
  switch (table->style) {
    case TableStyle::kGpt:
      return BoundedByDisk(ReadGptLayout(disk), disk.size());
    case TableStyle::kMbr:
      return BoundedByDisk(ReadMbrLayout(disk), disk.size());
    case TableStyle::kNone:
      break;
  }
  const auto superfloppy = IsSuperfloppy(disk);
  if (!superfloppy) return std::nullopt;
  return *superfloppy ? SuperfloppyLayout(disk) : RawLayout();
}

}  // namespace kestro::posix
