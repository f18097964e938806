#include "disk_layout.h"

#include <algorithm>

#include <win32/errors.h>

#include "errno_map.h"
#include "partition_table.h"

namespace kestro::posix {
namespace {

// Windows marks the single partition of an unpartitioned disk with this disk signature.
constexpr DWORD kSuperfloppySignature = 1;

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
  return SuperfloppyLayout(disk);
}

}  // namespace kestro::posix
