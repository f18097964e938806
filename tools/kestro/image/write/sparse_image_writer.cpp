#include "image/write/sparse_image_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/partial_file.h"
#include "support/errors.h"
#include "support/zero_bytes.h"

namespace kestro::cli {
namespace {

// Holes are made in units of the usual file-system block, counted from the start of the file.
constexpr uint64_t kHoleUnit = 4096;

}  // namespace

bool IsAllZero(const uint8_t* data, size_t length) {
  for (size_t done = 0; done < length; done += kZeroBytes) {
    const size_t chunk = std::min(kZeroBytes, length - done);
    if (std::memcmp(data + done, ZeroBytes(), chunk) != 0) return false;
  }
  return true;
}

SparseImageWriter::SparseImageWriter(const ImageFolder& folder, std::string name, mode_t mode)
    : folder_(folder),
      name_(std::move(name)),
      path_(folder.PathOf(name_)),
      fd_(ClaimPartialFile(folder, name_, mode)) {}

SparseImageWriter::~SparseImageWriter() {
  // Removed while still locked, so that no other backup can have claimed the name meanwhile.
  if (!committed_) folder_.Remove(name_);
  close(fd_);
}

void SparseImageWriter::Write(const uint8_t* data, size_t length) {
  const uint64_t start = size_;
  size_t done = 0;
  while (done < length) {
    // Walk hole-unit boundaries of the file and split the data into zero and non-zero runs.
    const uint64_t at = start + done;
    const size_t unit =
        static_cast<size_t>(std::min<uint64_t>(kHoleUnit - at % kHoleUnit, length - done));
    const bool zero = IsAllZero(data + done, unit);
    size_t run = unit;
    while (done + run < length) {
      const size_t next = static_cast<size_t>(std::min<uint64_t>(kHoleUnit, length - done - run));
      if (IsAllZero(data + done + run, next) != zero) break;
      run += next;
    }
    if (!zero) WriteRun(data + done, run, at);
    done += run;
  }
  size_ = start + length;
}

void SparseImageWriter::WriteRun(const uint8_t* data, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pwrite(fd_, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure(path_, "cannot write: " + DescribeErrno(n < 0 ? errno : ENOSPC));
    done += static_cast<size_t>(n);
  }
}

void SparseImageWriter::Flush() {
  if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
    throw Failure(path_, "cannot set the image's size: " + DescribeErrno(errno));
  }
  if (fsync(fd_) != 0) throw Failure(path_, "cannot flush: " + DescribeErrno(errno));
}

FileIdentity SparseImageWriter::identity() const {
  struct stat st {};
  if (fstat(fd_, &st) != 0) throw Failure(path_, "cannot examine: " + DescribeErrno(errno));
  return IdentityOf(st);
}

}  // namespace kestro::cli
