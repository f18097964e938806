// Holds the file systems mounted from an image file still while it is cloned: each is frozen
// (FIFREEZE) and its loop device flushed, and every one is thawed (FITHAW) when the guard ends,
// on every path.
#pragma once

#include <string>
#include <vector>

namespace shadrel::linux_snapshots {

class FrozenMounts {
 public:
  FrozenMounts() = default;
  ~FrozenMounts();
  FrozenMounts(const FrozenMounts&) = delete;
  FrozenMounts& operator=(const FrozenMounts&) = delete;

  // Freezes every file system mounted from `file` and flushes the devices they are mounted from;
  // false with a reason when one cannot be, after thawing those already frozen.
  bool Freeze(const std::string& file, std::string& reason);

 private:
  void ThawAll();

  std::vector<int> frozen_;  // descriptors of the frozen mount points
};

}  // namespace shadrel::linux_snapshots
