#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "byte_source.h"
#include "errors.h"
#include "small_files.h"

namespace kestro::cli {

ImageReader::ImageReader(std::string path) : path_(std::move(path)) {
  RequireRegularOrAbsent(path_);
  // Non-blocking, so that a FIFO given as the image is refused rather than waited on.
  fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw Failure(path_, "cannot open: " + DescribeErrno(errno));
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd_);
    throw Failure(path_, "not a regular file; an image is read from a file");
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

ImageReader::~ImageReader() {
  close(fd_);
}

void ImageReader::ReadAt(uint64_t offset, void* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, length - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(path_, "cannot read: " + DescribeErrno(errno));
    if (n == 0) throw Failure(path_, "ends early, at byte " + std::to_string(offset + done));
    done += static_cast<size_t>(n);
  }
}

}  // namespace kestro::cli
