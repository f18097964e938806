// VirtualAlloc and friends over anonymous mappings: page-aligned, zeroed, lockable.
#pragma once

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

LPVOID AllocatePages(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL FreePages(LPVOID address, SIZE_T size, DWORD type);
BOOL LockPages(LPVOID address, SIZE_T size);
BOOL UnlockPages(LPVOID address, SIZE_T size);

}  // namespace kestro::posix
