#include "storage/loop_device.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/block_device.h"

namespace kestro::posix {
namespace {

// A loop device over a block device reports that device in lo_rdevice (lo_device and lo_inode then
// name its node in /dev); over a regular file lo_rdevice is 0.
std::optional<LoopBacking> FromStatus(const loop_info64& status, const std::string& file) {
  if (status.lo_rdevice != 0) {
    return LoopBacking{false, static_cast<dev_t>(status.lo_rdevice), 0, status.lo_offset, file};
  }
  return LoopBacking{true, static_cast<dev_t>(status.lo_device),
                     static_cast<ino_t>(status.lo_inode), status.lo_offset, file};
}

std::optional<LoopBacking> FromSysfsPath(const std::string& file, const std::string& sysfs) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) return std::nullopt;
  const uint64_t offset = ReadSysfsNumber(sysfs + "/loop/offset").value_or(0);
  if (S_ISBLK(st.st_mode)) return LoopBacking{false, st.st_rdev, 0, offset, file};
  return LoopBacking{true, st.st_dev, st.st_ino, offset, file};
}

}  // namespace

std::optional<LoopBacking> LoopBackingOf(dev_t device, const std::string& sysfs) {
  const auto file = ReadSysfsLine(sysfs + "/loop/backing_file");
  if (!file) return std::nullopt;
  const int fd = OpenBlockDevice(device, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return FromSysfsPath(*file, sysfs);
  loop_info64 status{};
  const bool known = ioctl(fd, LOOP_GET_STATUS64, &status) == 0;
  close(fd);
  if (!known) return std::nullopt;
  return FromStatus(status, *file);
}

}  // namespace kestro::posix
