// IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: the geometry, the size and the partitioning of a disk.
#pragma once

#include <win32/types.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// DISK_GEOMETRY_EX with its Data holding DISK_PARTITION_INFO then DISK_DETECTION_INFO: 112
// bytes, cut to the buffer as Windows cuts it; ERROR_INSUFFICIENT_BUFFER below the 32-byte
// geometry and size.
BOOL AnswerGeometryEx(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
