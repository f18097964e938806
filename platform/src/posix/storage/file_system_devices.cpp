#include "storage/file_system_devices.h"
#include "storage/overlay_upper.h"

#include <linux/btrfs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kestro::posix {
namespace {

void Append(std::vector<StoragePlace>& to, const std::vector<StoragePlace>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The devices btrfs lists for the file system open on `fd`, by the numbers of their nodes.
std::vector<StoragePlace> PlacesOfBtrfs(int fd) {
  std::vector<StoragePlace> places;
  btrfs_ioctl_fs_info_args info{};
  if (ioctl(fd, BTRFS_IOC_FS_INFO, &info) != 0) return places;
  for (__u64 id = 0; id <= info.max_id; ++id) {
    btrfs_ioctl_dev_info_args device{};
    device.devid = id;
    struct stat st {};
    if (ioctl(fd, BTRFS_IOC_DEV_INFO, &device) != 0) continue;
    if (stat(reinterpret_cast<const char*>(device.path), &st) == 0 && S_ISBLK(st.st_mode)) {
      Append(places, PlacesOfDevice(st.st_rdev));
    }
  }
  return places;
}

}  // namespace

std::vector<StoragePlace> PlacesOfFileSystem(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return {};
  if (major(st.st_dev) != 0) return PlacesOfDevice(st.st_dev);
  struct statfs fs {};
  if (fstatfs(fd, &fs) == 0 && fs.f_type == BTRFS_SUPER_MAGIC) return PlacesOfBtrfs(fd);
  // An overlay's files are written into its upper folder, wherever that lies.
  const int upper = OpenOverlayUpper(fd);
  if (upper < 0) return {};
  auto places = PlacesOfFileSystem(upper);
  close(upper);
  return places;
}

}  // namespace kestro::posix
