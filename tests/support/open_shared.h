// Opens a device or file the way the library opens volumes: shared for reading and writing, an
// existing object, with read and write access unless the test asks for other access.
#pragma once

#include <win32/windows.h>

namespace kestro::testing {

inline win32::HANDLE OpenShared(const win32::WCHAR* name, win32::DWORD flags, win32::DWORD access) {
  using namespace win32;
  return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

inline win32::HANDLE OpenShared(const win32::WCHAR* name, win32::DWORD flags = 0) {
  using namespace win32;
  return OpenShared(name, flags, GENERIC_READ | GENERIC_WRITE);
}

}  // namespace kestro::testing
