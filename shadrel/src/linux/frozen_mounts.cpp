#include "frozen_mounts.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <win32/volume_storage.h>

#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

// Writes what the loop device still holds through to its backing file.
bool FlushDevice(const std::string& device, std::string& reason) {
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  const bool flushed = fd >= 0 && fsync(fd) == 0 && ioctl(fd, BLKFLSBUF, 0) == 0;
  if (!flushed) reason = WithErrno("cannot flush " + Printable(device));
  if (fd >= 0) close(fd);
  return flushed;
}

int OpenMountPoint(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether `mounted`, the status of a mount point, is of the file system on block device `device`.
bool IsFileSystemOf(const struct stat& mounted, const std::string& device) {
  struct stat node {};
  return device.empty() || (stat(device.c_str(), &node) == 0 && S_ISBLK(node.st_mode) &&
                            node.st_rdev == mounted.st_dev);
}

}  // namespace

FrozenMounts::~FrozenMounts() {
  Thaw();
  for (const Mount& mount : mounts_) close(mount.fd);
}

bool FrozenMounts::Open(const std::string& file, std::string& reason) {
  for (const kestro::MountedFileSystem& found : kestro::MountsWithin(file)) {
    const int fd = OpenMountPoint(found.mountPoint);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || !IsFileSystemOf(status, found.device)) {
      reason = fd < 0 ? WithErrno("cannot open " + Printable(found.mountPoint))
                      : Printable(found.mountPoint) + " is not the file system of " +
                            Printable(found.device) + " any more";
      if (fd >= 0) close(fd);
      return false;
    }
    bool seen = false;  // a file system mounted twice is frozen once
    for (const Mount& other : mounts_) seen = seen || other.named.device == status.st_dev;
    if (seen) {
      close(fd);
      continue;
    }
    Mount mount;
    mount.fd = fd;
    mount.named.path = found.mountPoint;
    mount.named.device = status.st_dev;
    mount.device = found.device;
    mounts_.push_back(std::move(mount));
  }
  return true;
}

std::vector<FrozenMount> FrozenMounts::Named() const {
  std::vector<FrozenMount> named;
  for (const Mount& mount : mounts_) named.push_back(mount.named);
  return named;
}

bool FrozenMounts::Freeze(std::string& reason) {
  if (mounts_.empty()) return true;
  std::vector<int> fds;
  for (const Mount& mount : mounts_) fds.push_back(mount.fd);
  if (!guardian_.Start(fds, reason)) return false;
  for (; frozen_ < mounts_.size(); ++frozen_) {
    if (ioctl(mounts_[frozen_].fd, FIFREEZE, 0) != 0) {
      reason = WithErrno("cannot freeze the file system mounted on " +
                         Printable(mounts_[frozen_].named.path));
      Thaw();
      return false;
    }
  }
  for (const Mount& mount : mounts_) {
    if (!mount.device.empty() && !FlushDevice(mount.device, reason)) {
      Thaw();
      return false;
    }
  }
  return true;
}

void FrozenMounts::Thaw() {
  for (; frozen_ > 0; --frozen_) ioctl(mounts_[frozen_ - 1].fd, FITHAW, 0);
  guardian_.Dismiss();
}

bool ThawLeftover(const FrozenMount& mount, std::string& reason) {
  const int fd = OpenMountPoint(mount.path);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0 || status.st_dev != mount.device) {
    if (fd >= 0) close(fd);
    return true;  // unmounted since, or another file system there now: not ours to thaw
  }
  const bool thawed = ioctl(fd, FITHAW, 0) == 0 || errno == EINVAL;  // EINVAL: not frozen
  if (!thawed)
    reason = WithErrno("cannot thaw the file system mounted on " + Printable(mount.path));
  close(fd);
  return thawed;
}

}  // namespace shadrel::linux_snapshots
