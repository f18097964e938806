#include "handles/widened_transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "handles/full_transfer.h"

namespace kestro::posix {
namespace {

struct FreeDeleter {
  void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using AlignedBytes = std::unique_ptr<uint8_t[], FreeDeleter>;

// The whole device sectors a transfer touches, staged in memory aligned to the device sector.
struct Span {
  int fd = -1;
  uint64_t start = 0;  // descriptor offset of the first sector
  uint64_t head = 0;   // bytes of the first sector before the transfer
  size_t length = 0;
  AlignedBytes bytes;
};

bool MakeSpan(const OpenObject& object, int fd, size_t size, uint64_t offset, Span* span) {
  const uint64_t sector = object.deviceSectorSize;
  span->fd = fd;
  span->start = offset / sector * sector;
  span->head = offset - span->start;
  const uint64_t length = (span->head + size + sector - 1) / sector * sector;
  void* memory = nullptr;
  if (length > std::numeric_limits<size_t>::max() ||
      posix_memalign(&memory, static_cast<size_t>(sector), static_cast<size_t>(length)) != 0) {
    errno = ENOMEM;
    return false;
  }
  span->length = static_cast<size_t>(length);
  span->bytes.reset(static_cast<uint8_t*>(memory));
  return true;
}

// Bytes of the transfer among the first `moved` bytes of the span.
ssize_t BytesOfTransfer(const Span& span, ssize_t moved, size_t size) {
  if (moved < 0) return -1;
  const uint64_t past = static_cast<uint64_t>(moved);
  return static_cast<ssize_t>(past <= span.head ? 0 : std::min<uint64_t>(past - span.head, size));
}

// Reads the span's sector at `at` (bytes from its start) whole: 1 when read, 0 at the device's
// end, -1 with errno set.
ssize_t ReadSector(OpenObject& object, Span& span, size_t at) {
  const ssize_t n =
      ReadFully(object, span.fd, span.bytes.get() + at, object.deviceSectorSize, span.start + at);
  return n == static_cast<ssize_t>(object.deviceSectorSize) ? 1 : (n < 0 ? -1 : 0);
}

// Fills the first and last sectors where the transfer leaves part of them unwritten; answers as
// ReadSector.
ssize_t ReadPartialSectors(OpenObject& object, Span& span, size_t size) {
  const size_t last = span.length - object.deviceSectorSize;
  const bool headPartial = span.head != 0;
  const bool tailPartial = span.head + size != span.length;
  if (headPartial) {
    const ssize_t read = ReadSector(object, span, 0);
    if (read <= 0) return read;
  }
  if (tailPartial && !(headPartial && last == 0)) return ReadSector(object, span, last);
  return 1;
}

}  // namespace

bool NeedsWidening(const OpenObject& object, const void* buffer, size_t size, uint64_t offset,
                   bool direct) {
  const uint64_t sector = object.deviceSectorSize;
  if ((object.sectorSize >= sector && !direct) || size == 0) return false;
  const bool bufferAligned =
      !(object.noBuffering || direct) || reinterpret_cast<uintptr_t>(buffer) % sector == 0;
  return offset % sector != 0 || size % sector != 0 || !bufferAligned;
}

ssize_t ReadWidened(OpenObject& object, int fd, void* buffer, size_t size, uint64_t offset) {
  Span span;
  if (!MakeSpan(object, fd, size, offset, &span)) return -1;
  const ssize_t delivered =
      BytesOfTransfer(span, ReadFully(object, fd, span.bytes.get(), span.length, span.start), size);
  if (delivered > 0) {
    std::memcpy(buffer, span.bytes.get() + span.head, static_cast<size_t>(delivered));
  }
  return delivered;
}

ssize_t WriteWidened(OpenObject& object, int fd, const void* buffer, size_t size, uint64_t offset) {
  Span span;
  if (!MakeSpan(object, fd, size, offset, &span)) return -1;
  const ssize_t read = ReadPartialSectors(object, span, size);
  if (read <= 0) return read;
  std::memcpy(span.bytes.get() + span.head, buffer, size);
  return BytesOfTransfer(span, WriteFully(object, fd, span.bytes.get(), span.length, span.start),
                         size);
}

}  // namespace kestro::posix
