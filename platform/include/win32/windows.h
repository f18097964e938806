// The one header library code includes for the Win32 API.
//
// On Windows it is the system's own <windows.h> and <winioctl.h>. Everywhere else it is Kestro's
// platform layer: the same names, records, constants and functions, declared in namespace win32 so
// that nothing reaches a host's global namespace. Library sources say `using namespace win32;`
// and then read like ordinary Win32 code on both.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

// The public headers name platform types as win32::X so that one spelling serves both builds.
namespace win32 {
using ::BOOL;
using ::BYTE;
using ::DISK_GEOMETRY;
using ::DRIVE_LAYOUT_INFORMATION_EX;
using ::DWORD;
using ::HANDLE;
using ::LARGE_INTEGER;
using ::LONGLONG;
using ::OSVERSIONINFOW;
using ::PARTITION_INFORMATION;
using ::PARTITION_INFORMATION_EX;
using ::SET_PARTITION_INFORMATION;
using ::ULONGLONG;
using ::WCHAR;
using ::WORD;
}  // namespace win32

#define WTEXT(quote) L##quote

#else

#include <win32/types.h>
#include <win32/errors.h>
#include <win32/winioctl.h>
#include <win32/kernel32.h>
#include <win32/wide.h>

#endif

#include <win32/vwin32.h>
