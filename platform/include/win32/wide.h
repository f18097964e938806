// Wide strings over 16-bit WCHAR, and the few wide runtime functions the library uses.
#pragma once

#include <cstdarg>
#include <cstddef>

#include <win32/types.h>

// Wide literals: L"..." on Windows, u"..." here, so that both are arrays of WCHAR.
#define WTEXT(quote) u##quote

namespace win32 {

size_t wcslen(const WCHAR* s);

// Whole-string comparison in which only the letters A-Z and a-z fold together.
int _wcsicmp(const WCHAR* a, const WCHAR* b);

// Formatted output with the conversions the library's messages and names use:
// %d %i %u %x %X %c %s (wide string) %%, with flags '-' and '0', a width and the length
// modifiers l, ll and h. swprintf always terminates the output and returns -1 when it was cut.
int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

// Writes one formatted line to standard output as UTF-8 bytes in a single locked write, so the
// stream is never switched to wide orientation.
int wprintf(const WCHAR* format, ...);

}  // namespace win32
