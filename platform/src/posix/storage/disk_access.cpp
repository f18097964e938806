#include "storage/disk_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "errno_map.h"
#include "storage/volume_safety.h"

namespace kestro::posix {
namespace {

// A disk handle may carry O_DIRECT; reopening its descriptor through /proc gives a plain one.
std::string DiskPathOf(const OpenObject& object) {
  if (object.kind == ObjectKind::kVolume && object.volume) return object.volume->disk.path;
  return "/proc/self/fd/" + std::to_string(object.fd);
}

// Leaves `error` in errno, so that a short transfer is reported as a failure with a cause.
bool Refuse(int error) {
  errno = error;
  return false;
}

}  // namespace

std::optional<DiskAccess> DiskAccess::Open(const OpenObject& object, bool forWriting) {
  const int fd = open(DiskPathOf(object).c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    FailFromErrno();
    return std::nullopt;
  }
  auto facts = ExamineOpenDevice(fd);
  if (!facts) {
    FailFromErrno();
    close(fd);
    return std::nullopt;
  }
  return DiskAccess(fd, std::move(*facts));
}

DiskAccess::DiskAccess(DiskAccess&& other) noexcept
    : fd_(other.fd_), facts_(std::move(other.facts_)) {
  other.fd_ = -1;
}

DiskAccess::~DiskAccess() {
  if (fd_ >= 0) close(fd_);
}

bool DiskAccess::ReadAt(void* buffer, size_t length, uint64_t offset) const {
  if (offset > size() || length > size() - offset) return Refuse(ENXIO);
  const ssize_t n = pread(fd_, buffer, length, static_cast<off_t>(offset));
  return n == static_cast<ssize_t>(length) || Refuse(n < 0 ? errno : EIO);
}

bool DiskAccess::WriteAt(const void* buffer, size_t length, uint64_t offset) const {
  if (offset > size() || length > size() - offset) return Refuse(ENXIO);
  if (!DescriptorWriteAllowed(fd_, offset, length)) return Refuse(EACCES);
  const ssize_t n = pwrite(fd_, buffer, length, static_cast<off_t>(offset));
  if (n != static_cast<ssize_t>(length)) return Refuse(n < 0 ? errno : EIO);
  return fsync(fd_) == 0;
}

}  // namespace kestro::posix
