// The kernel32 functions the library calls, with their Win32 signatures and semantics.
//
// Each one forwards to the installed backend (win32/backend.h); the POSIX backend is the default,
// and on Windows one that calls the system. They have the system's calling convention, so that
// GetProcAddress can hand them out as kernel32's exports.
#pragma once

#include <win32/platform_api.h>
#include <win32/types.h>

#ifndef WINAPI
#define WINAPI
#endif

namespace win32 {

// GetLastError and SetLastError keep the last error per thread, as on Windows.
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  KESTROPLAT_API result WINAPI name parameters;
#define KESTRO_KERNEL32_LOCAL_CALL KESTRO_KERNEL32_CALL
#include <win32/kernel32_calls.def>

}  // namespace win32
