#include "image/zstd_option.h"

#include "support/sizes.h"
#include "image/write/zstd_writer.h"

namespace kestro::cli {
namespace {

constexpr std::string_view kFramePrefix = "frame=";

std::optional<int> LevelOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 2 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const int level = std::stoi(std::string(digits));
  if (level < 1 || level > kLargestZstdLevel) return std::nullopt;
  return level;
}

std::optional<uint64_t> FrameBytesOf(std::string_view text) {
  if (!text.starts_with(kFramePrefix)) return std::nullopt;
  const std::optional<uint64_t> bytes = ParseSize(text.substr(kFramePrefix.size()));
  if (!bytes || *bytes < kSmallestZstdFrameBytes || *bytes > kLargestZstdFrameBytes) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::optional<ZstdSettings> ParseZstdOption(const std::string& text) {
  ZstdSettings settings{kDefaultZstdLevel, kDefaultZstdFrameBytes};
  if (text == "zstd") return settings;
  // "zstd,frame=SIZE" gives the frame size alone, as "zstd:frame=SIZE" does.
  const bool levelMayFollow = text.starts_with("zstd:");
  if (!levelMayFollow && !text.starts_with("zstd,")) return std::nullopt;
  std::string_view rest = std::string_view(text).substr(5);
  const size_t comma = rest.find(',');
  std::string_view level = rest.substr(0, comma);
  if (!level.starts_with(kFramePrefix)) {
    if (!levelMayFollow) return std::nullopt;
    const std::optional<int> parsed = LevelOf(level);
    if (!parsed) return std::nullopt;
    settings.level = *parsed;
    if (comma == std::string_view::npos) return settings;
    rest = rest.substr(comma + 1);
  }
  const std::optional<uint64_t> frame = FrameBytesOf(rest);
  if (!frame) return std::nullopt;
  settings.frameBytes = *frame;
  return settings;
}

}  // namespace kestro::cli
