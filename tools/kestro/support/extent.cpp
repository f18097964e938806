#include "support/extent.h"

namespace kestro::cli {

uint64_t TotalLength(const std::vector<Extent>& extents) {
  uint64_t total = 0;
  for (const Extent& extent : extents) total += extent.length;
  return total;
}

}  // namespace kestro::cli
