// Absolute disk reads and writes as DOS carries them out: interrupts 25h and 26h (drive in AL,
// counted from 0) and function 7305h of interrupt 21h (drive in DL, counted from 1; SI bit 0
// selects writing, bits 13 to 15 the kind of data written).
//
// Each leaves DOS's answer in the register image (carry clear on success; carry set and the
// error code in AX on failure) and returns ERROR_SUCCESS, or returns the Win32 error of a call
// that could not be made at all: ERROR_NOACCESS when an address the call needs is null.
#pragma once

#include <win32/vwin32.h>

#include "vwin32/dos_locks.h"

namespace kestro::posix {

using namespace win32;

DWORD AbsoluteDiskTransfer(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner, bool write);

DWORD ExtendedDiskTransfer(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner);

}  // namespace kestro::posix
