// One DOS call through the legacy family's VWIN32 device, shared by the sector transfers, the
// volume control calls and the opening of a legacy volume.
#pragma once

#include <Kestro32.h>

namespace kestro {

// The Flags a register block is sent with: bit 15 set, the carry flag clear.
inline constexpr win32::DWORD kDosFlagsPreset = 0x8000;

// Registers for DOS generic IOCTL for block devices (interrupt 21h, AX = 440Dh): `function` in
// CX (the device category in CH, the minor code in CL) and `drive` in BX (1 = A:).
_DEVIOCTL_REGISTERS GenericIoctl(win32::DWORD function, win32::DWORD drive);

// Register blocks carry 32-bit linear addresses, as the legacy family's processes have.
win32::DWORD LinearAddress(const void* pointer);

// Sends `registers` to the device on `device` under control code `code`, as both the input and
// the output of the request, so that they come back as the DOS call left them. True when the
// device call succeeded and the DOS call returned with the carry flag clear.
bool RunDosCall(win32::HANDLE device, win32::DWORD code, _DEVIOCTL_REGISTERS& registers);

}  // namespace kestro
