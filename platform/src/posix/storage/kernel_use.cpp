#include "storage/kernel_use.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/block_device.h"
#include "storage/open_files.h"

namespace kestro::posix {
namespace {

bool Contains(const std::vector<dev_t>& devices, dev_t device) {
  return std::find(devices.begin(), devices.end(), device) != devices.end();
}

// Whether an exclusive open of `device` would fail only because of this process's own holds.
bool HeldByUs(dev_t device, const std::vector<dev_t>& ownHolds) {
  const auto parent = ParentDiskOf(device);
  if (Contains(ownHolds, device) || (parent && Contains(ownHolds, *parent))) return true;
  return std::any_of(ownHolds.begin(), ownHolds.end(),
                     [&](dev_t held) { return ParentDiskOf(held) == device; });
}

std::string Refusal(dev_t device, int error) {
  const std::string name = BlockDeviceName(device);
  if (error == EBUSY) {
    return name +
           " is held by the kernel (mounted in some mount namespace, an active swap area, a "
           "member of a multi-device file system, an external journal, or under device-mapper "
           "or md)";
  }
  return name + " cannot be checked for use: " + std::strerror(error);
}

// An O_EXCL open of `device`; -1 with errno set when the kernel refuses it.
int OpenExclusive(dev_t device) {
  return OpenBlockDevice(device, O_RDONLY | O_EXCL | O_NONBLOCK);
}

// 0 when the kernel grants an exclusive open of `device`, else why it refused.
int ExclusiveOpenError(dev_t device) {
  const int fd = OpenExclusive(device);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// A disk whose partition is claimed refuses exclusive opens as a whole, yet only the partition's
// bytes are in use; the partition answers for them.
bool APartitionIsClaimed(dev_t disk) {
  const std::vector<dev_t> devices = ListBlockDevices();
  return std::any_of(devices.begin(), devices.end(), [&](dev_t device) {
    return ParentDiskOf(device) == disk && ExclusiveOpenError(device) == EBUSY;
  });
}

// The devices of `devices` whose partitions are not among them.
std::vector<dev_t> Innermost(const std::vector<dev_t>& devices) {
  std::vector<dev_t> inner;
  for (const dev_t device : devices) {
    const bool hasPartition = std::any_of(
        devices.begin(), devices.end(), [&](dev_t other) { return ParentDiskOf(other) == device; });
    if (!hasPartition) inner.push_back(device);
  }
  return inner;
}

}  // namespace

std::vector<dev_t> DevicesOver(const std::vector<StoragePlace>& places) {
  std::vector<dev_t> over;
  for (const dev_t device : ListBlockDevices()) {
    if (Overlap(places, PlacesOfDevice(device))) over.push_back(device);
  }
  return over;
}

std::vector<BusyStorage> BusyWithin(const std::vector<StoragePlace>& places,
                                    const std::vector<dev_t>& ownHolds) {
  std::vector<BusyStorage> busy;
  for (const dev_t device : DevicesOver(places)) {
    if (HeldByUs(device, ownHolds)) continue;
    const int error = ExclusiveOpenError(device);
    if (error == 0 || (error == EBUSY && APartitionIsClaimed(device))) continue;
    busy.push_back(BusyStorage{PlacesOfDevice(device), Refusal(device, error)});
  }
  if (const auto writer = OtherWriterOf(places)) {
    std::vector<StoragePlace> files;
    std::copy_if(places.begin(), places.end(), std::back_inserter(files),
                 [](const StoragePlace& place) { return place.storage.isFile; });
    busy.push_back(BusyStorage{files, *writer + " holds it open for writing"});
  }
  return busy;
}

std::vector<int> HoldDevicesOver(const std::vector<StoragePlace>& places, std::vector<dev_t>* held,
                                 std::string* why) {
  std::vector<int> fds;
  for (const dev_t device : Innermost(DevicesOver(places))) {
    const int fd = OpenExclusive(device);
    if (fd < 0) {
      *why = Refusal(device, errno);
      for (const int open : fds) close(open);
      held->clear();
      return {};
    }
    fds.push_back(fd);
    held->push_back(device);
  }
  return fds;
}

}  // namespace kestro::posix
