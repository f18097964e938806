// The --compress option: "zstd", "zstd:LEVEL", "zstd:frame=SIZE" or "zstd:LEVEL,frame=SIZE".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestro::cli {

struct ZstdSettings {
  int level = 0;
  uint64_t frameBytes = 0;
};

// The settings `text` asks for; nothing when it is not a valid compression.
std::optional<ZstdSettings> ParseZstdOption(const std::string& text);

}  // namespace kestro::cli
