// The one header library code includes for the Win32 API.
//
// Everywhere but Windows it is Kestro's platform layer: the system's names, records, constants and
// functions, declared in namespace win32 so that nothing reaches a host's global namespace. On
// Windows it is the system's own <windows.h> and <winioctl.h>; code built to call through the
// layer (win32/system.h) gets the layer's kernel32 functions and diagnostic print besides, so the
// same tests can stand a fake backend behind it there too. Library sources say
// `using namespace win32;` and then read like ordinary Win32 code on both.
#pragma once

#include <win32/types.h>
#include <win32/errors.h>
#include <win32/winioctl.h>

#if !defined(_WIN32) || defined(KESTRO_WIN32_THROUGH_BACKEND)
#include <win32/kernel32.h>
#include <win32/wide.h>
#endif

#include <win32/vwin32.h>
