#include "ondisk/allocation.h"

#include <utility>

namespace kestro::ondisk {

void AllocationTally::Add(uint64_t first, uint64_t count, bool allocated) {
  if (!allocated) {
    free_ += count;
    return;
  }
  if (detail_ == RunDetail::kCountOnly || count == 0) return;
  if (!runs_.empty() && runs_.back().first + runs_.back().count == first) {
    runs_.back().count += count;
  } else {
    runs_.push_back({first, count});
  }
}

AllocationMap AllocationTally::Finish(uint64_t clusterBytes, uint64_t clusterCount) {
  return AllocationMap{clusterBytes, clusterCount, free_, std::move(runs_)};
}

}  // namespace kestro::ondisk
