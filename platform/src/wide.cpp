// The wide runtime functions over 16-bit WCHAR: length, case-folding comparison and the
// formatted print the library's messages and device names use.
#include <win32/wide.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include <win32/backend.h>
#include <win32/utf.h>

namespace win32 {
namespace {

WCHAR FoldAsciiLetter(WCHAR c) {
  return (c >= u'A' && c <= u'Z') ? WCHAR(c - u'A' + u'a') : c;
}

struct FieldFormat {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = 0;
  int longs = 0;
  bool half = false;
};

// Reads flags, width and length modifiers after '%'; leaves `p` on the conversion character.
FieldFormat ParseFieldFormat(const WCHAR*& p) {
  FieldFormat field;
  for (;; ++p) {
    if (*p == u'-') {
      field.leftAlign = true;
    } else if (*p == u'0') {
      field.zeroPad = true;
    } else {
      break;
    }
  }
  while (*p >= u'0' && *p <= u'9') field.width = field.width * 10 + (*p++ - u'0');
  for (; *p == u'l' || *p == u'h'; ++p) {
    if (*p == u'l') ++field.longs;
    if (*p == u'h') field.half = true;
  }
  return field;
}

void AppendPadded(std::u16string& out, std::u16string_view text, const FieldFormat& field) {
  const size_t width = field.width > 0 ? static_cast<size_t>(field.width) : 0;
  const size_t pad = width > text.size() ? width - text.size() : 0;
  if (field.leftAlign) {
    out.append(text);
    out.append(pad, u' ');
  } else if (field.zeroPad && !text.empty() && text[0] == u'-') {
    out += u'-';
    out.append(pad, u'0');
    out.append(text.substr(1));
  } else {
    out.append(pad, field.zeroPad ? u'0' : u' ');
    out.append(text);
  }
}

std::u16string Widen(const char* ascii) {
  std::u16string out;
  for (; *ascii; ++ascii) out += static_cast<WCHAR>(*ascii);
  return out;
}

std::u16string FormatSigned(const FieldFormat& field, va_list& args) {
  long long value = field.longs >= 2   ? va_arg(args, long long)
                    : field.longs == 1 ? va_arg(args, long)
                                       : va_arg(args, int);
  if (field.half) value = static_cast<short>(value);
  char digits[32];
  std::snprintf(digits, sizeof digits, "%lld", value);
  return Widen(digits);
}

std::u16string FormatUnsigned(const FieldFormat& field, WCHAR conversion, va_list& args) {
  unsigned long long value = field.longs >= 2   ? va_arg(args, unsigned long long)
                             : field.longs == 1 ? va_arg(args, unsigned long)
                                                : va_arg(args, unsigned int);
  if (field.half) value = static_cast<unsigned short>(value);
  const char* format = conversion == u'x' ? "%llx" : conversion == u'X' ? "%llX" : "%llu";
  char digits[32];
  std::snprintf(digits, sizeof digits, format, value);
  return Widen(digits);
}

void FormatEach(std::u16string& out, const WCHAR* format, va_list& args) {
  for (const WCHAR* p = format; *p; ++p) {
    if (*p != u'%') {
      out += *p;
      continue;
    }
    ++p;
    const FieldFormat field = ParseFieldFormat(p);
    switch (*p) {
      case u'd':
      case u'i':
        AppendPadded(out, FormatSigned(field, args), field);
        break;
      case u'u':
      case u'x':
      case u'X':
        AppendPadded(out, FormatUnsigned(field, *p, args), field);
        break;
      case u'c':
        AppendPadded(out, std::u16string(1, static_cast<WCHAR>(va_arg(args, int))), field);
        break;
      case u's': {
        const WCHAR* text = va_arg(args, const WCHAR*);
        AppendPadded(out, text ? std::u16string_view(text) : u"(null)", field);
        break;
      }
      case u'%':
        out += u'%';
        break;
      case u'\0':
        return;
      default:
        out += u'%';
        out += *p;
        break;
    }
  }
}

void FormatWide(std::u16string& out, const WCHAR* format, va_list incoming) {
  // A va_list parameter may have decayed to a pointer; the helpers need a real object.
  va_list args;
  va_copy(args, incoming);
  FormatEach(out, format, args);
  va_end(args);
}
}  // namespace

size_t wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    const WCHAR x = FoldAsciiLetter(*a);
    const WCHAR y = FoldAsciiLetter(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  if (buffer == nullptr || count == 0) return -1;
  std::u16string text;
  FormatWide(text, format, args);
  const bool fits = text.size() < count;
  const size_t n = fits ? text.size() : count - 1;
  text.copy(buffer, n);
  buffer[n] = 0;
  return fits ? static_cast<int>(n) : -1;
}

int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vswprintf(buffer, count, format, args);
  va_end(args);
  return result;
}

int wprintf(const WCHAR* format, ...) {
  std::u16string text;
  va_list args;
  va_start(args, format);
  FormatWide(text, format, args);
  va_end(args);
  CurrentBackend().WriteStandardOutput(kestro::ToUtf8(text));
  return static_cast<int>(text.size());
}

}  // namespace win32
