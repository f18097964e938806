#include "support/positional_read.h"

#include <unistd.h>

#include <cerrno>

#include "support/errors.h"

namespace kestro::cli {

size_t ReadUpTo(int fd, uint64_t offset, void* buffer, size_t length, const std::string& name) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd, static_cast<char*>(buffer) + done, length - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(name, "cannot read: " + DescribeErrno(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace kestro::cli
