// What Linux says about a file or block device: its size, sector size and, for a partition
// device, where it lies on its parent disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include <win32/sector.h>

namespace kestro::posix {

struct DeviceFacts {
  bool isBlockDevice = false;
  uint64_t size = 0;                                   // bytes
  uint32_t logicalSectorSize = platform::kSectorSize;  // bytes
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

// The whole disk a partition device lies on; nullopt for a whole disk or an unknown device.
std::optional<dev_t> ParentDiskOf(dev_t device);

// Every block device the kernel lists, partitions included.
std::vector<dev_t> ListBlockDevices();

// Opens block device `device` through its node in /dev with `flags` (O_CLOEXEC added); -1 with
// errno set, ENODEV when the node names another device.
int OpenBlockDevice(dev_t device, int flags);

// "/dev/<name>" of block device `device`, or "block device M:m" when sysfs does not name it.
std::string BlockDeviceName(dev_t device);

// Size of an open file or block device in bytes.
std::optional<uint64_t> SizeOfOpenFile(int fd);

// Reads one unsigned number from a sysfs attribute file.
std::optional<uint64_t> ReadSysfsNumber(const std::string& file);

// Reads the first line of a sysfs attribute file.
std::optional<std::string> ReadSysfsLine(const std::string& file);

}  // namespace kestro::posix
