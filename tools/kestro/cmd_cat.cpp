// kestro cat VOLUME: raw volume bytes to standard output, for xxd, cmp and the like.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "interrupt.h"
#include "sector.h"

namespace kestro::cli {

using namespace win32;

namespace {

void WriteOut(const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("standard output", "cannot write: " + DescribeErrno(errno));
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

int RunCat(const CatOptions& options) {
  Volume volume(options.volume, OpenOptions{false, kDefaultBufferSize});
  if (options.offset > volume.size()) {
    throw Failure(volume.name(), "has " + std::to_string(volume.size()) + " bytes; offset " +
                                     std::to_string(options.offset) + " lies beyond its end");
  }
  const uint64_t available = volume.size() - options.offset;
  const uint64_t length = std::min(options.length.value_or(available), available);
  // A read may start inside a sector, so one sector of the staging buffer is kept free for that.
  const size_t block = kDefaultBufferSize - kSectorSize;
  std::vector<uint8_t> buffer(block);
  VolumeBytes bytes(volume.object());
  for (uint64_t done = 0; done < length;) {
    StopIfInterrupted(volume.name());
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(block, length - done));
    const uint64_t at = options.offset + done;
    if (const DWORD error = bytes.ReadAt(at, buffer.data(), chunk)) {
      throw Failure(volume.name(),
                    "read failed at byte " + std::to_string(at) + ": " + DescribeError(error));
    }
    WriteOut(buffer.data(), chunk);
    done += chunk;
  }
  return kExitSuccess;
}

}  // namespace kestro::cli
