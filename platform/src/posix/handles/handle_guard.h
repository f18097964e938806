// The safety state of one handle: where its bytes live, and the volume lock it holds, made of
// the kernel's own exclusion so that it excludes other processes too. The lock dies with the
// handle.
#pragma once

#include <vector>

#include "storage/storage_place.h"

namespace kestro::posix {

struct HandleGuard {
  std::vector<StoragePlace> places;  // where the handle's descriptor keeps its bytes, once known
  bool placesKnown = false;
  std::vector<StoragePlace> lockedPlaces;  // the bytes the volume lock covers, while it is held
  bool locked = false;
  std::vector<int> lockFds;  // an O_EXCL open of the block device, byte-range locked file opens

  HandleGuard() = default;
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard();
};

}  // namespace kestro::posix
