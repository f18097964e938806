// Which volumes Linux has mounted. A volume is judged by where its bytes live: a block device at
// an offset, or a regular file at an offset, reached directly, through a partition device, or
// through a loop device and its backing file. A volume is mounted when one of its places is one
// of a mount source's places.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::posix {

struct StoragePlace {
  dev_t device = 0;  // a block device, or 0 for a regular file
  std::string file;  // the canonical path of a regular file
  uint64_t offset = 0;

  bool operator==(const StoragePlace&) const = default;
};

// Every place the bytes at `offset` of `path` (a block device or regular file) can be named by.
std::vector<StoragePlace> PlacesOf(const std::string& path, uint64_t offset);

// The mount point of a mounted volume with `places`, or nullopt when none is mounted there.
std::optional<std::string> FindMountPoint(const std::vector<StoragePlace>& places);

// A number that changes whenever the process's mount table may have changed. It costs a clock
// read and, at most once a millisecond, a zero-timeout poll, so callers can afford it per
// transfer and rescan the table only when it moves.
uint64_t MountTableGeneration();

}  // namespace kestro::posix
