// Which clusters of a volume are in use, as its allocation structure (the FAT, the NTFS bitmap)
// records them.
#pragma once

#include <cstdint>
#include <vector>

namespace kestro::ondisk {

// `count` consecutive clusters from `first`, numbered as the file system numbers them.
struct ClusterRun {
  uint64_t first = 0;
  uint64_t count = 0;

  bool operator==(const ClusterRun&) const = default;
};

// Whether a scan keeps the allocated runs; counting alone needs no memory per run.
enum class RunDetail { kCountOnly, kAllocatedRuns };

struct AllocationMap {
  uint64_t clusterBytes = 0;
  uint64_t clusterCount = 0;
  uint64_t freeClusters = 0;
  std::vector<ClusterRun> allocated;  // coalesced and in order; empty for kCountOnly
};

// Builds an AllocationMap from clusters reported in increasing order.
class AllocationTally {
 public:
  explicit AllocationTally(RunDetail detail) : detail_(detail) {}

  void Add(uint64_t first, uint64_t count, bool allocated);
  AllocationMap Finish(uint64_t clusterBytes, uint64_t clusterCount);

 private:
  RunDetail detail_;
  uint64_t free_ = 0;
  std::vector<ClusterRun> runs_;
};

}  // namespace kestro::ondisk
