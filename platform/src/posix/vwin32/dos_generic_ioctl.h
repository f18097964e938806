// Generic IOCTL for block devices (interrupt 21h, AX = 440Dh), categories 08h and 48h: lock,
// unlock and lock state of a logical volume, its media ID, and its device parameters.
//
// Leaves DOS's answer in the register image and returns ERROR_SUCCESS, or returns ERROR_NOACCESS
// when the record address the call needs is null.
#pragma once

#include <win32/vwin32.h>

#include "vwin32/dos_locks.h"

namespace kestro::posix {

using namespace win32;

DWORD GenericIoctl(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner);

}  // namespace kestro::posix
