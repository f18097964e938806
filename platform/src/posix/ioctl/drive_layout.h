// The drive layout records of the disk under a volume or disk handle.
#pragma once

#include <win32/types.h>

#include "open_object.h"
#include "ioctl/control_buffer.h"

namespace kestro::posix {

using namespace win32;

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX: 48 + 144 x N bytes, ERROR_INSUFFICIENT_BUFFER when smaller.
BOOL AnswerDriveLayout(const OpenObject& object, ControlBuffer& output);

// IOCTL_DISK_GET_DRIVE_LAYOUT: 8 + 32 x N bytes in a buffer of at least the 40-byte record,
// ERROR_INSUFFICIENT_BUFFER when smaller; ERROR_INVALID_FUNCTION on a GPT disk.
BOOL AnswerLegacyDriveLayout(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
