// What Linux says about a file or block device: its size, sector size and, for a partition
// device, where it lies on its parent disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <sys/types.h>

#include "sector.h"

namespace kestro::posix {

struct DeviceFacts {
  bool isBlockDevice = false;
  uint64_t size = 0;                         // bytes
  uint32_t logicalSectorSize = kSectorSize;  // bytes
  bool removable = false;
  std::string sysfsDir;  // /sys/dev/block/M:m resolved, for block devices

  // Set only for a partition block device.
  std::optional<unsigned> partitionNumber;
  uint64_t partitionStart = 0;  // bytes from the start of the parent disk
  std::string parentDisk;       // /dev/<parent>
};

// Facts about `path`, or nullopt with errno set when it cannot be examined.
std::optional<DeviceFacts> ExamineDevice(const std::string& path);

// Facts about the file or block device open on `fd`.
std::optional<DeviceFacts> ExamineOpenDevice(int fd);

// The sysfs folder of block device `device` (/sys/devices/...), or empty when it has none.
std::string SysfsDirOf(dev_t device);

// Size of an open file or block device in bytes.
std::optional<uint64_t> SizeOfOpenFile(int fd);

// Reads one unsigned number from a sysfs attribute file.
std::optional<uint64_t> ReadSysfsNumber(const std::string& file);

// Reads the first line of a sysfs attribute file.
std::optional<std::string> ReadSysfsLine(const std::string& file);

}  // namespace kestro::posix
