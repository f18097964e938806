// Wide strings over 16-bit WCHAR, and the few wide runtime functions the library uses.
#pragma once

#include <cstdarg>
#include <cstddef>

#include <win32/platform_api.h>
#include <win32/types.h>

#ifdef _WIN32

namespace win32 {

// Diagnostic lines go through the backend on Windows too, so that tests see them; the runtime's
// own length, comparison and string formatting serve the rest.
KESTROPLAT_API int wprintf(const WCHAR* format, ...);

}  // namespace win32

// The runtime's wprintf cannot be moved aside like the kernel32 functions (the C++ library names
// it), so calls are sent to the layer's by a function-like macro. It leaves `using ::wprintf;` in
// the runtime's headers alone; those were read before this point (win32/system.h).
#define wprintf(...) ::win32::wprintf(__VA_ARGS__)

#else

namespace win32 {

KESTROPLAT_API size_t wcslen(const WCHAR* s);

// Whole-string comparison in which only the letters A-Z and a-z fold together.
KESTROPLAT_API int _wcsicmp(const WCHAR* a, const WCHAR* b);

// Formatted output with the conversions the library's messages and names use:
// %d %i %u %x %X %c %s (wide string) %%, with flags '-' and '0', a width and the length
// modifiers l, ll and h. swprintf always terminates the output and returns -1 when it was cut.
KESTROPLAT_API int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
KESTROPLAT_API int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

// Writes one formatted line to standard output as UTF-8 bytes in a single locked write, so the
// stream is never switched to wide orientation.
KESTROPLAT_API int wprintf(const WCHAR* format, ...);

}  // namespace win32

#endif
