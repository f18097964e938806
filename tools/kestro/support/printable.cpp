#include "support/printable.h"

#include <cstdio>

namespace kestro::cli {
namespace {

// The length of the well-formed UTF-8 sequence at `at` that is no control character (C1 ones,
// U+0080 to U+009F, included), or 0.
size_t PrintableSequence(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  if (lead >= 0xc2 && lead <= 0xdf)
    length = 2;
  else if (lead >= 0xe0 && lead <= 0xef)
    length = 3;
  else if (lead >= 0xf0 && lead <= 0xf4)
    length = 4;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) return 0;
  }
  const auto second = static_cast<unsigned char>(text[at + 1]);
  const bool overlong = (lead == 0xe0 && second < 0xa0) || (lead == 0xf0 && second < 0x90);
  const bool surrogate = lead == 0xed && second >= 0xa0;
  const bool beyond = lead == 0xf4 && second >= 0x90;
  const bool control = lead == 0xc2 && second < 0xa0;
  return overlong || surrogate || beyond || control ? 0 : length;
}

std::string Escaped(unsigned char byte) {
  if (byte == '\n') return "\\n";
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  return escaped;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string shown;
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += text[at++];
      continue;
    }
    const size_t length = byte >= 0x80 ? PrintableSequence(text, at) : 0;
    if (length == 0) {
      shown += Escaped(byte);
      ++at;
    } else {
      shown.append(text, at, length);
      at += length;
    }
  }
  return shown;
}

}  // namespace kestro::cli
