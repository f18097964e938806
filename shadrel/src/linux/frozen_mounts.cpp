#include "frozen_mounts.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include <win32/volume_storage.h>

#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

// Writes what the loop device still holds through to its backing file.
bool FlushDevice(const std::string& device, std::string& reason) {
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  const bool flushed = fd >= 0 && fsync(fd) == 0 && ioctl(fd, BLKFLSBUF, 0) == 0;
  if (!flushed) reason = WithErrno("cannot flush " + device);
  if (fd >= 0) close(fd);
  return flushed;
}

}  // namespace

FrozenMounts::~FrozenMounts() {
  ThawAll();
}

void FrozenMounts::ThawAll() {
  for (int fd : frozen_) {
    ioctl(fd, FITHAW, 0);
    close(fd);
  }
  frozen_.clear();
}

bool FrozenMounts::Freeze(const std::string& file, std::string& reason) {
  const auto mounts = kestro::MountsWithin(file);
  std::set<dev_t> frozenDevices;  // a file system mounted twice is frozen once
  for (const kestro::MountedFileSystem& mount : mounts) {
    const int fd = open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 && !frozenDevices.insert(st.st_dev).second) {
      close(fd);
      continue;
    }
    if (fd < 0 || ioctl(fd, FIFREEZE, 0) != 0) {
      reason = WithErrno("cannot freeze the file system mounted on " + mount.mountPoint);
      if (fd >= 0) close(fd);
      ThawAll();
      return false;
    }
    frozen_.push_back(fd);
  }
  for (const kestro::MountedFileSystem& mount : mounts) {
    if (!mount.device.empty() && !FlushDevice(mount.device, reason)) {
      ThawAll();
      return false;
    }
  }
  return true;
}

}  // namespace shadrel::linux_snapshots
