#include "storage/volume_window.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestro::posix {

std::optional<VolumeWindow> VolumeWindow::Open(const VolumeTarget& volume) {
  const int fd = open(volume.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return VolumeWindow(fd, volume.offset, volume.length);
}

VolumeWindow::VolumeWindow(VolumeWindow&& other) noexcept
    : fd_(other.fd_), base_(other.base_), length_(other.length_) {
  other.fd_ = -1;
}

VolumeWindow::~VolumeWindow() {
  if (fd_ >= 0) close(fd_);
}

bool VolumeWindow::Read(uint64_t offset, void* buffer, size_t length) const {
  if (offset > length_ || length > length_ - offset) return false;
  auto* bytes = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t n =
        pread(fd_, bytes + done, length - done, static_cast<off_t>(base_ + offset + done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace kestro::posix
