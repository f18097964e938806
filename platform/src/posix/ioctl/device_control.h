// DeviceIoControl on volume and disk handles: the disk and volume control codes, answered
// with Windows' records and errors from what Linux knows about the device.
#pragma once

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

BOOL ControlDevice(OpenObject& object, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                   DWORD outSize, LPDWORD returned);

}  // namespace kestro::posix
