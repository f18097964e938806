// The partition records of a volume or disk handle (IOCTL_DISK_GET_PARTITION_INFO and _EX) and
// the MBR partition-type change (IOCTL_DISK_SET_PARTITION_INFO).
#pragma once

#include <optional>

#include <win32/winioctl.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"
#include "ioctl/partition_layout.h"

namespace kestro::posix {

using namespace win32;

// The partition a handle stands for: a volume's own entry, or for a disk handle the whole disk
// (Windows' partition 0); nullopt with the last error set when the disk cannot be read.
struct PartitionView {
  PARTITION_STYLE style = PARTITION_STYLE_MBR;
  LayoutEntry entry;
};
std::optional<PartitionView> ViewPartition(const OpenObject& object);

// The record Windows gives for `entry` of a disk laid out in `style`.
PARTITION_INFORMATION_EX PartitionRecordOf(PARTITION_STYLE style, const LayoutEntry& entry);

// The older record, which only an MBR entry fits.
PARTITION_INFORMATION LegacyPartitionRecordOf(const LayoutEntry& entry);

BOOL AnswerPartitionInfo(const OpenObject& object, ControlBuffer& output);
BOOL AnswerPartitionInfoEx(const OpenObject& object, ControlBuffer& output);

// Rewrites the type byte of the volume's MBR slot, in the master boot record for a primary
// partition and in its extended boot record for a logical one.
BOOL SetPartitionType(const OpenObject& object, const void* input, DWORD inputSize);

}  // namespace kestro::posix
