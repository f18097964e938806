// The safety state of one volume or disk handle: whether it holds its volume's exclusive lock,
// and what it last learned about whether its volume is mounted. The lock dies with the handle.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/mount_table.h"

namespace kestro::posix {

using namespace win32;

struct HandleGuard {
  std::vector<StoragePlace> places;  // where the handle's bytes live, once known
  bool placesKnown = false;
  uint64_t mountGeneration = 0;  // the mount-table generation `mounted` was judged at
  bool mounted = false;
  bool locked = false;

  HandleGuard() = default;
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard();
};

}  // namespace kestro::posix
