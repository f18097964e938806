// Conversions between the layer's 16-bit wide strings and UTF-8.
#pragma once

#include <string>
#include <string_view>

#include <win32/platform_api.h>
#include <win32/types.h>

namespace kestro {

KESTROPLAT_API std::string ToUtf8(std::u16string_view text);
KESTROPLAT_API std::u16string FromUtf8(std::string_view text);

// WCHAR strings as UTF-16 text and back. WCHAR is char16_t here and wchar_t on Windows; both hold
// UTF-16 code units, so the conversion only changes the type.
KESTROPLAT_API std::u16string Utf16(const win32::WCHAR* text);  // empty for a null pointer
KESTROPLAT_API std::basic_string<win32::WCHAR> ToWide(std::u16string_view text);

inline std::string ToUtf8(const win32::WCHAR* text) {
  return ToUtf8(Utf16(text));
}

}  // namespace kestro
