// What a loop device presents: a range of a regular file or of another block device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kestro::posix {

struct LoopBacking {
  bool isFile = false;  // a regular file rather than a block device
  dev_t device = 0;     // the file's file system, or the backing block device
  ino_t inode = 0;      // the file's inode; 0 for a block device
  uint64_t offset = 0;  // where the loop device's byte 0 lies in its backing storage
  std::string file;     // the path the kernel last knew the backing file by, for messages
};

// The storage behind loop device `device`, whose sysfs folder is `sysfs`; nullopt for a device
// that is no loop device or has nothing attached. The kernel names the backing file by device
// and inode numbers, which a rename, a removed name, a hard link or another mount namespace do
// not change; without the right to open the device, the path sysfs reports stands in.
std::optional<LoopBacking> LoopBackingOf(dev_t device, const std::string& sysfs);

}  // namespace kestro::posix
