// Windows only: the system's own <windows.h> and <winioctl.h>, with the platform types the
// public headers name as win32::X brought into namespace win32.
//
// Code built with KESTRO_WIN32_THROUGH_BACKEND (the library, the requester, the layer itself and
// the tests) calls kernel32 through the layer, as it does on every platform: win32::CreateFileW
// and the rest forward to the installed backend, whose default calls the system. For an
// unqualified call under `using namespace win32;` to find only the layer's function, the system's
// declarations of those names are moved aside while the system headers are read. Hosts include
// the system headers untouched and call the system directly.
#pragma once

#ifndef _WIN32
#error "win32/system.h is the Windows branch of the platform headers"
#endif

#ifdef KESTRO_WIN32_THROUGH_BACKEND
#ifdef _WINDOWS_
#error "include <win32/windows.h> before <windows.h> in code that calls through the backend"
#endif
#include <win32/kernel32_names_aside.inc>
#endif

#include <windows.h>
#include <winioctl.h>

// Read now, so that win32/wide.h can name wprintf after the runtime's headers are done with it.
#include <cstdio>
#include <cwchar>

#ifdef KESTRO_WIN32_THROUGH_BACKEND
#include <win32/kernel32_names_restored.inc>
#endif

// Wide literals are arrays of WCHAR: L"..." here, u"..." elsewhere.
#define WTEXT(quote) L##quote

// Constants and error codes stay the system's macros, so code names them unqualified.
namespace win32 {
using ::BOOL;
using ::BOOLEAN;
using ::BYTE;
using ::DWORD;
using ::DWORD64;
using ::FARPROC;
using ::HANDLE;
using ::HMODULE;
using ::LARGE_INTEGER;
using ::LONG;
using ::LONGLONG;
using ::LPCVOID;
using ::LPCWSTR;
using ::LPDWORD;
using ::LPOSVERSIONINFOW;
using ::LPOVERLAPPED;
using ::LPSECURITY_ATTRIBUTES;
using ::LPVOID;
using ::LPWSTR;
using ::OSVERSIONINFOW;
using ::PLARGE_INTEGER;
using ::PULARGE_INTEGER;
using ::SIZE_T;
using ::UINT;
using ::ULARGE_INTEGER;
using ::ULONG;
using ::ULONG_PTR;
using ::ULONGLONG;
using ::WCHAR;
using ::WORD;

using ::DISK_EXTENT;
using ::DISK_GEOMETRY;
using ::DRIVE_LAYOUT_INFORMATION_EX;
using ::GET_LENGTH_INFORMATION;
using ::MEDIA_TYPE;
using ::PARTITION_INFORMATION;
using ::PARTITION_INFORMATION_EX;
using ::PARTITION_STYLE;
using ::SET_PARTITION_INFORMATION;
using ::VOLUME_DISK_EXTENTS;
}  // namespace win32
