// What the kernel itself says is in use. Every block device whose bytes are some of a target's
// (the device, its partitions, every loop device over it or over its file, found by device and
// inode numbers) is opened with O_EXCL, which the kernel refuses while the device is mounted in
// any mount namespace, is a member of a multi-device file system or an external journal, is an
// active swap area, or is held by device-mapper or md. A file another process holds open for
// writing (a FUSE file system serving an image) is in use too.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "storage/storage_place.h"

namespace kestro::posix {

// Bytes in use and who uses them.
struct BusyStorage {
  std::vector<StoragePlace> places;
  std::string why;  // "/dev/loop3 is held by the kernel (...)", "process 12 (ntfs-3g) ..."
};

// Every block device whose bytes overlap `places`.
std::vector<dev_t> DevicesOver(const std::vector<StoragePlace>& places);

// What of `places` is in use. Devices in `ownHolds` (this process's exclusive opens), their
// partitions and their disks are excluded by this process and are not asked about again.
std::vector<BusyStorage> BusyWithin(const std::vector<StoragePlace>& places,
                                    const std::vector<dev_t>& ownHolds);

// Opens with O_EXCL the devices over `places` that keep everything else from claiming them (a
// partition rather than its disk, since a claimed partition shuts out its disk too). The
// descriptors, or an empty list with *why set when the kernel refuses one.
std::vector<int> HoldDevicesOver(const std::vector<StoragePlace>& places, std::vector<dev_t>* held,
                                 std::string* why);

}  // namespace kestro::posix
