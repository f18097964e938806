// Conversions between the layer's 16-bit wide strings and UTF-8.
#pragma once

#include <string>
#include <string_view>

#include <win32/types.h>

namespace win32 {

std::string ToUtf8(std::u16string_view text);
inline std::string ToUtf8(const WCHAR* text) {
  return text ? ToUtf8(std::u16string_view(text)) : std::string();
}
std::u16string FromUtf8(std::string_view text);

}  // namespace win32
