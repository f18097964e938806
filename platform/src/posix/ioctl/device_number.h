// IOCTL_STORAGE_GET_DEVICE_NUMBER: which disk, and which partition of it, a handle stands for.
#pragma once

#include <win32/types.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// The disk's number in the drive map and Windows' number of the volume's partition (0 for a
// disk handle, Windows' partition 0); ERROR_INVALID_FUNCTION for a disk the map does not number.
BOOL AnswerDeviceNumber(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
