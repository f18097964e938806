#include "image/write/stream_writer.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "support/errors.h"

namespace kestro::cli {

StreamWriter::StreamWriter(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  std::signal(SIGPIPE, SIG_IGN);
}

void StreamWriter::Write(const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd_, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) {
      throw Failure(name_, "closed by its reader after " + std::to_string(written_) +
                               " bytes; the image is incomplete");
    }
    if (n < 0) throw Failure(name_, "cannot write: " + DescribeErrno(errno));
    data += n;
    length -= static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
}

}  // namespace kestro::cli
