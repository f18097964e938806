// What Linux itself is using: the storage of mounted file systems and active swap areas, and a
// cheap way to notice when that changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <win32/volume_storage.h>

#include "storage/storage_place.h"

namespace kestro::posix {

// The mount point of a mounted file system whose storage overlaps `places`, or nullopt.
std::optional<std::string> FindMountPoint(const std::vector<StoragePlace>& places);

// Every mounted file system whose storage overlaps `places`, in mount-table order.
std::vector<MountedFileSystem> MountsOverlapping(const std::vector<StoragePlace>& places);

// Whether `places` overlap a mounted file system or an active swap area; true whenever the mount
// table cannot be read, since then nothing is proved unmounted. The answer is looked up again only
// when the mount-table generation has moved, so steady writes pay no system call.
bool InUseBySystem(const std::vector<StoragePlace>& places);

// A number that changes whenever the mount table or the swap areas may have changed. It costs a
// clock read and, at most once a millisecond, a zero-timeout poll, so callers can afford it per
// transfer and look again only when it moves.
uint64_t MountTableGeneration();

}  // namespace kestro::posix
