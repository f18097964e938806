// Writes an image file front to back, leaving holes where whole blocks are zero: zero runs are
// seeked over and the final size is set at the end, so the file takes disk space only for the
// data. Until Commit, the file is a partial image and is removed when the writer goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro::cli {

class SparseImageWriter {
 public:
  // Creates `path`, or empties it; throws Failure when it cannot.
  explicit SparseImageWriter(std::string path);
  ~SparseImageWriter();
  SparseImageWriter(const SparseImageWriter&) = delete;
  SparseImageWriter& operator=(const SparseImageWriter&) = delete;

  // Appends `length` bytes.
  void Write(const uint8_t* data, size_t length);

  // Sets the final size, flushes and keeps the file.
  void Commit();

  uint64_t size() const { return size_; }

 private:
  void WriteRun(const uint8_t* data, size_t length, uint64_t offset);

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  bool committed_ = false;
};

// True when `length` bytes at `data` are all zero.
bool IsAllZero(const uint8_t* data, size_t length);

}  // namespace kestro::cli
