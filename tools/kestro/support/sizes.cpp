#include "support/sizes.h"

#include <cctype>
#include <cstdio>

namespace kestro::cli {
namespace {

std::optional<unsigned> SuffixShift(std::string_view suffix) {
  std::string lower;
  for (char c : suffix) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.empty() || lower == "b") return 0;
  static constexpr std::string_view kLetters = "kmgt";
  const size_t index = kLetters.find(lower[0]);
  if (index == std::string_view::npos) return std::nullopt;
  const std::string_view rest = std::string_view(lower).substr(1);
  if (!rest.empty() && rest != "b" && rest != "ib") return std::nullopt;
  return static_cast<unsigned>(10 * (index + 1));
}

}  // namespace

std::optional<uint64_t> ParseSize(std::string_view text) {
  size_t digits = 0;
  uint64_t value = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
    const uint64_t digit = static_cast<uint64_t>(text[digits] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  const auto shift = SuffixShift(text.substr(digits));
  if (!shift) return std::nullopt;
  if (*shift > 0 && value > (UINT64_MAX >> *shift)) return std::nullopt;
  return value << *shift;
}

std::string FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatRate(uint64_t bytes, double seconds) {
  if (seconds <= 0) return "-";
  return FormatBytes(static_cast<uint64_t>(static_cast<double>(bytes) / seconds)) + "/s";
}

}  // namespace kestro::cli
