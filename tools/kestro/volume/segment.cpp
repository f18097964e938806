#include "volume/segment.h"

namespace kestro::cli {

uint64_t TotalLength(const std::vector<Segment>& segments) {
  uint64_t total = 0;
  for (const Segment& segment : segments) total += segment.length;
  return total;
}

}  // namespace kestro::cli
