#include "storage/disk_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <win32/errors.h>

#include "errno_map.h"
#include "read_ahead.h"
#include "storage/volume_safety.h"

namespace kestro::posix {
namespace {

// A disk handle may carry O_DIRECT; reopening its descriptor through /proc gives a plain one.
std::string DiskPathOf(const OpenObject& object) {
  if (object.kind == ObjectKind::kVolume && object.volume) return object.volume->disk.path;
  return "/proc/self/fd/" + std::to_string(object.fd);
}

// A transfer that reaches past the disk's end fails as Windows fails one on a disk handle.
bool PastTheEnd() {
  Fail(ERROR_SECTOR_NOT_FOUND);
  return false;
}

// A short transfer means the disk ended early; only a failed call carries the device's own error.
bool Unfinished(ssize_t done) {
  if (done >= 0) return PastTheEnd();
  FailFromErrno();
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
  if (offset > size() || length > size() - offset) return PastTheEnd();
  const ssize_t n = pread(fd_, buffer, length, static_cast<off_t>(offset));
  return n == static_cast<ssize_t>(length) || Unfinished(n);
}

bool DiskAccess::WriteAt(const void* buffer, size_t length, uint64_t offset) const {
  if (offset > size() || length > size() - offset) return PastTheEnd();
  if (!DescriptorWriteAllowed(fd_, offset, length)) return Fail(ERROR_ACCESS_DENIED);
  const ssize_t n = pwrite(fd_, buffer, length, static_cast<off_t>(offset));
  NoteWrite();
  if (n != static_cast<ssize_t>(length)) return Unfinished(n);
  return fsync(fd_) == 0 || FailFromErrno();
}

}  // namespace kestro::posix
