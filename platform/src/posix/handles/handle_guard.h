// The safety state of one handle: where its bytes live, and the volume lock it holds, made of
// the kernel's own exclusion so that it excludes other processes too. The lock dies with the
// handle.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/kernel_use.h"
#include "storage/storage_place.h"

namespace kestro::posix {

struct HandleGuard {
  std::vector<StoragePlace> places;  // where the handle's descriptor keeps its bytes, once known
  bool placesKnown = false;
  std::vector<StoragePlace> lockedPlaces;  // the bytes the volume lock covers, while it is held
  bool locked = false;
  std::vector<int> lockFds;  // O_EXCL opens of the block devices, byte-range locked file opens
  // What the kernel said was in use within the handle's bytes, as of a mount-table generation.
  std::vector<BusyStorage> busy;
  uint64_t busyGeneration = 0;
  bool busyKnown = false;

  HandleGuard() = default;
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard();
};

}  // namespace kestro::posix
