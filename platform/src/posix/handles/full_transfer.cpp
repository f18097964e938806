#include "handles/full_transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kestro::posix {
namespace {

// O_DIRECT needs what the file system underneath accepts, which may be stricter than a sector;
// then the handle continues without it, keeping the alignment checks of its own.
bool DropDirectIo(OpenObject& object) {
  const int flags = fcntl(object.fd, F_GETFL);
  if (flags < 0 || !(flags & O_DIRECT)) return false;
  return fcntl(object.fd, F_SETFL, flags & ~O_DIRECT) == 0;
}

// An error part-way fails the whole transfer, so that it is never taken for the device's end.
template <typename Transfer>
ssize_t TransferFully(OpenObject& object, int fd, size_t size, uint64_t offset, Transfer transfer) {
  size_t done = 0;
  while (done < size) {
    const size_t chunk = std::min<size_t>(size - done, 0x40000000);
    const ssize_t n = transfer(done, chunk, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL && fd == object.fd && DropDirectIo(object)) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

ssize_t ReadFully(OpenObject& object, int fd, void* buffer, size_t size, uint64_t offset) {
  char* bytes = static_cast<char*>(buffer);
  return TransferFully(object, fd, size, offset, [&](size_t at, size_t chunk, off_t position) {
    return pread(fd, bytes + at, chunk, position);
  });
}

ssize_t WriteFully(OpenObject& object, int fd, const void* buffer, size_t size, uint64_t offset) {
  const char* bytes = static_cast<const char*>(buffer);
  return TransferFully(object, fd, size, offset, [&](size_t at, size_t chunk, off_t position) {
    return pwrite(fd, bytes + at, chunk, position);
  });
}

}  // namespace kestro::posix
