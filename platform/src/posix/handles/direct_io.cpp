#include "handles/direct_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "read_ahead.h"

namespace kestro::posix {
namespace {

constexpr uint64_t kPageSize = 4096;

// The object's own descriptor opened again, by what it is rather than by a name that may have
// changed since, with its access and its write-through.
int ReopenDirect(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return open(self.c_str(), (flags & (O_ACCMODE | O_SYNC | O_DSYNC)) | O_DIRECT | O_CLOEXEC);
}

// Without the direct descriptor a block device is read through the page cache: without the
// kernel's read-ahead, so that dropping what was read leaves nothing of the device behind.
void ReadBufferedWithoutReadAhead(const OpenObject& object) {
  if (object.dropBehind) posix_fadvise(object.fd, 0, 0, POSIX_FADV_RANDOM);
}

}  // namespace

void OpenDirectDescriptor(OpenObject& object, bool deviceObject) {
  struct stat st {};
  if (fstat(object.fd, &st) != 0) return;
  object.dropBehind = S_ISBLK(st.st_mode);
  if (object.noBuffering || !(object.dropBehind || deviceObject)) return;
  object.directFd = ReopenDirect(object.fd);
  if (object.directFd < 0) ReadBufferedWithoutReadAhead(object);
  if (object.directFd >= 0 && object.canRead) {
    object.readAhead = std::make_unique<ReadAhead>(object.directFd, object.base + object.length);
  }
}

bool DirectIoActive(const OpenObject& object) {
  return object.directFd >= 0 && !object.directRefused;
}

bool DirectIoRefused(OpenObject& object, ssize_t result) {
  if (result >= 0 || errno != EINVAL) return false;
  object.directRefused = true;
  ReadBufferedWithoutReadAhead(object);
  return true;
}

void DropBehind(const OpenObject& object, uint64_t offset, size_t size, bool written) {
  if (!object.dropBehind || size == 0) return;
  const uint64_t start = offset / kPageSize * kPageSize;
  const uint64_t end = (offset + size + kPageSize - 1) / kPageSize * kPageSize;
  const auto from = static_cast<off_t>(start);
  const auto length = static_cast<off_t>(end - start);
  if (written) {
    sync_file_range(
        object.fd, from, length,
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
  }
  posix_fadvise(object.fd, from, length, POSIX_FADV_DONTNEED);
}

}  // namespace kestro::posix
