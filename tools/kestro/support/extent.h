// A run of bytes: `length` bytes from `offset`. What the command calls a span of an image, an
// unreadable range, a part to copy or compare.
#pragma once

#include <cstdint>
#include <vector>

namespace kestro::cli {

struct Extent {
  uint64_t offset = 0;
  uint64_t length = 0;

  bool operator==(const Extent&) const = default;
};

uint64_t TotalLength(const std::vector<Extent>& extents);

}  // namespace kestro::cli
