// One DOS call through the legacy family's VWIN32 device.
#pragma once

#include <Kestro32.h>

namespace kestro {

// Sends `registers` to the device on `device` under control code `code`, as both the input and
// the output of the request, so that they come back as the DOS call left them. True when the
// device call succeeded and the DOS call returned with the carry flag clear.
bool RunDosCall(win32::HANDLE device, win32::DWORD code, _DEVIOCTL_REGISTERS& registers);

}  // namespace kestro
