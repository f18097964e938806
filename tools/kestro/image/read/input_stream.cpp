#include "image/read/input_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/errors.h"

namespace kestro::cli {
namespace {

size_t ReadFd(int fd, void* buffer, size_t length, const std::string& name) {
  for (;;) {
    const ssize_t n = read(fd, buffer, length);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw Failure(name, "cannot read: " + DescribeErrno(errno));
  }
}

}  // namespace

InputStream::InputStream(int fd, std::string name, bool owned)
    : fd_(fd), name_(std::move(name)), owned_(owned) {}

InputStream::~InputStream() {
  if (owned_) close(fd_);
}

const std::string& InputStream::Peek(size_t length) {
  char chunk[64];
  while (ahead_.size() < length) {
    const size_t n = ReadFd(fd_, chunk, std::min(sizeof chunk, length - ahead_.size()), name_);
    if (n == 0) break;
    ahead_.append(chunk, n);
  }
  return ahead_;
}

size_t InputStream::ReadSome(void* buffer, size_t length) {
  size_t n = 0;
  if (!ahead_.empty()) {
    n = std::min(length, ahead_.size());
    std::memcpy(buffer, ahead_.data(), n);
    ahead_.erase(0, n);
  } else {
    n = ReadFd(fd_, buffer, length, name_);
  }
  position_ += n;
  return n;
}

void InputStream::Rewind() {
  if (lseek(fd_, 0, SEEK_SET) != 0) {
    throw Failure(name_, "cannot be read a second time: " + DescribeErrno(errno));
  }
  ahead_.clear();
  position_ = 0;
}

}  // namespace kestro::cli
