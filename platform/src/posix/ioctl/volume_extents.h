// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: where a volume lies on its disks.
#pragma once

#include <span>

#include <win32/winioctl.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// A volume of the drive map lies on one disk in one piece.
BOOL AnswerDiskExtents(const OpenObject& object, ControlBuffer& output);

// Windows' record for `extents`: 8 + 24 x N bytes, and never less than the 32-byte fixed record
// (ERROR_INVALID_PARAMETER below it); a buffer too small for every extent receives the count and
// the extents that fit and fails with ERROR_MORE_DATA.
BOOL PutDiskExtents(std::span<const DISK_EXTENT> extents, ControlBuffer& output);

}  // namespace kestro::posix
