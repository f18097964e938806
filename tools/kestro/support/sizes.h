// Byte counts as people type and read them: "4M", "64KiB", "1.5 GiB".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::cli {

// Parses a decimal count with an optional binary suffix (K, M, G, T, optionally followed by
// "iB" or "B", any case). Nothing else is accepted: no sign, no fraction, no overflow.
std::optional<uint64_t> ParseSize(std::string_view text);

// "512 B", "36.0 MiB", "1.2 GiB".
std::string FormatBytes(uint64_t bytes);

// Bytes per second, e.g. "812.4 MiB/s"; "-" when no time has passed.
std::string FormatRate(uint64_t bytes, double seconds);

}  // namespace kestro::cli
