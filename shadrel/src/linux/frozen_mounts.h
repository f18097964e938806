// Holds the file systems mounted from an image file still while it is cloned: each is frozen
// (FIFREEZE) and its loop device flushed, and every one is thawed (FITHAW) when the guard ends, on
// every path; a guardian child thaws them should this process die in between.
#pragma once

#include <string>
#include <vector>

#include "snapshot_record.h"
#include "thaw_guardian.h"

namespace shadrel::linux_snapshots {

class FrozenMounts {
 public:
  FrozenMounts() = default;
  ~FrozenMounts();
  FrozenMounts(const FrozenMounts&) = delete;
  FrozenMounts& operator=(const FrozenMounts&) = delete;

  // Opens the mount point of every file system mounted from `file`, once each, and checks that
  // it is the file system of the device it is mounted from; false with a reason when one is not.
  bool Open(const std::string& file, std::string& reason);

  // What a record names: the mount points opened.
  std::vector<FrozenMount> Named() const;

  // Freezes them and flushes the devices they are mounted from; false with a reason, after
  // thawing those already frozen, when one cannot be.
  bool Freeze(std::string& reason);

  // Thaws every one frozen.
  void Thaw();

 private:
  struct Mount {
    int fd = -1;
    FrozenMount named;
    std::string device;  // the block device it is mounted from, or ""
  };

  std::vector<Mount> mounts_;
  size_t frozen_ = 0;  // mounts_[0, frozen_) are frozen
  ThawGuardian guardian_;
};

// Thaws the file system a process that died left frozen at `mount`, when it is still that file
// system; one not frozen is left as it is. False with a reason when it cannot be thawed.
bool ThawLeftover(const FrozenMount& mount, std::string& reason);

}  // namespace shadrel::linux_snapshots
