#pragma once

#include <cstdint>
#include <vector>

#include "support/byte_range.h"

namespace kestro::cli {

// Part of an image: the first `length` bytes of a range, placed at `imageOffset` in the image.
struct Segment {
  ByteRange* range = nullptr;
  uint64_t length = 0;
  uint64_t imageOffset = 0;
};

uint64_t TotalLength(const std::vector<Segment>& segments);

}  // namespace kestro::cli
