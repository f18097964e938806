#include "handles/routed_transfer.h"

#include "handles/direct_io.h"
#include "handles/full_transfer.h"
#include "read_ahead.h"
#include "handles/widened_transfer.h"

namespace kestro::posix {
namespace {

ssize_t ReadDirect(OpenObject& object, void* buffer, size_t size, uint64_t offset) {
  if (NeedsWidening(object, buffer, size, offset, true)) {
    return ReadWidened(object, object.directFd, buffer, size, offset);
  }
  if (object.readAhead && object.readAhead->Take(buffer, size, offset)) {
    return static_cast<ssize_t>(size);
  }
  return ReadFully(object, object.directFd, buffer, size, offset);
}

ssize_t WriteDirect(OpenObject& object, const void* buffer, size_t size, uint64_t offset) {
  return NeedsWidening(object, buffer, size, offset, true)
             ? WriteWidened(object, object.directFd, buffer, size, offset)
             : WriteFully(object, object.directFd, buffer, size, offset);
}

ssize_t ReadBuffered(OpenObject& object, void* buffer, size_t size, uint64_t offset) {
  const ssize_t n = NeedsWidening(object, buffer, size, offset, false)
                        ? ReadWidened(object, object.fd, buffer, size, offset)
                        : ReadFully(object, object.fd, buffer, size, offset);
  DropBehind(object, offset, size, false);
  return n;
}

ssize_t WriteBuffered(OpenObject& object, const void* buffer, size_t size, uint64_t offset) {
  const ssize_t n = NeedsWidening(object, buffer, size, offset, false)
                        ? WriteWidened(object, object.fd, buffer, size, offset)
                        : WriteFully(object, object.fd, buffer, size, offset);
  DropBehind(object, offset, size, true);
  return n;
}

// The direct route where the handle has one and its file system takes it, else the buffered one.
template <typename Direct, typename Buffered>
ssize_t Route(OpenObject& object, Direct direct, Buffered buffered) {
  if (DirectIoActive(object)) {
    const ssize_t n = direct();
    if (!DirectIoRefused(object, n)) return n;
  }
  return buffered();
}

}  // namespace

ssize_t ReadRouted(OpenObject& object, void* buffer, size_t size, uint64_t offset) {
  return Route(
      object, [&] { return ReadDirect(object, buffer, size, offset); },
      [&] { return ReadBuffered(object, buffer, size, offset); });
}

ssize_t WriteRouted(OpenObject& object, const void* buffer, size_t size, uint64_t offset) {
  const ssize_t n = Route(
      object, [&] { return WriteDirect(object, buffer, size, offset); },
      [&] { return WriteBuffered(object, buffer, size, offset); });
  NoteWrite();
  return n;
}

}  // namespace kestro::posix
