// The storage a mounted file system keeps its data in.
#pragma once

#include <vector>

#include "storage/storage_place.h"

namespace kestro::posix {

// Every place of the devices the file system holding the file or folder open on `fd` is stored
// in: its block device (through partitions and loop devices to their backing files), or for
// btrfs, which reports an anonymous device number, each device btrfs lists. Empty for a file
// system on no block device (tmpfs, FUSE, proc).
std::vector<StoragePlace> PlacesOfFileSystem(int fd);

}  // namespace kestro::posix
