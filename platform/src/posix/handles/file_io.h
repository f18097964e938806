// Transfers and file-pointer moves on an open object, with Windows' rules for volumes and disks.
#pragma once

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

BOOL ReadObject(OpenObject& object, LPVOID buffer, DWORD size, LPDWORD done);
BOOL WriteObject(OpenObject& object, LPCVOID buffer, DWORD size, LPDWORD done);
BOOL MoveObjectPointer(OpenObject& object, LONGLONG distance, DWORD method, uint64_t* result);
BOOL ObjectSize(OpenObject& object, uint64_t* size);

}  // namespace kestro::posix
