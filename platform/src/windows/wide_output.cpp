// The diagnostic print on Windows: the runtime formats the line, as its wprintf would, and the
// backend writes it, so that a test's fake backend sees it.
#include <win32/wide.h>

#include <string>

#include <win32/backend.h>
#include <win32/utf.h>

// This file defines the function the macro sends calls to.
#undef wprintf

namespace win32 {

int wprintf(const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = _vscwprintf(format, measure);
  va_end(measure);
  if (length < 0) {
    va_end(args);
    return length;
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  _vsnwprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(length));
  CurrentBackend().WriteStandardOutput(kestro::ToUtf8(text.c_str()));
  return length;
}

}  // namespace win32
