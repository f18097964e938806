// The legacy family's VWIN32 device: DOS disk calls carried in register blocks, executed
// against the drive map. Register blocks carry 32-bit addresses, so only 32-bit builds have it.
#pragma once

#include <memory>

#include <win32/types.h>

#include "open_object.h"

namespace win32::posix {

std::shared_ptr<OpenObject> OpenLegacyDevice();

BOOL ControlLegacyDevice(OpenObject& device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned);

}  // namespace win32::posix
