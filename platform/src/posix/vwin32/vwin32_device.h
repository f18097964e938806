// The legacy family's VWIN32 device (\\.\VWIN32): DeviceIoControl carries DOS calls in register
// images, and the device carries them out against the drive map. Register images hold 32-bit
// addresses, so the device exists in 32-bit builds only; elsewhere opening it fails with
// ERROR_FILE_NOT_FOUND, as for any device the system does not have.
#pragma once

#include <memory>

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

std::shared_ptr<OpenObject> OpenLegacyDevice();

BOOL ControlLegacyDevice(OpenObject& device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned);

}  // namespace kestro::posix
