// The drive layout record of the disk under a volume or disk handle.
#pragma once

#include <win32/types.h>

#include "handles/open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX: 48 + 144 x N bytes, ERROR_INSUFFICIENT_BUFFER when smaller.
BOOL AnswerDriveLayout(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
