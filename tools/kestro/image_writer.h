// Writes an image file front to back, leaving holes where whole blocks are zero: zero runs are
// seeked over and the final size is set at the end, so the file takes disk space only for the
// data. Until Commit, the file is a partial image and is removed when the writer goes away. The
// writer holds the file's lock from creation until it goes away (see partial_file.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image_sink.h"

namespace kestro::cli {

class SparseImageWriter : public ImageSink {
 public:
  // Creates `path`, replacing one left by a backup that died; throws Failure when it cannot or
  // when a running backup holds it.
  explicit SparseImageWriter(std::string path);
  ~SparseImageWriter() override;
  SparseImageWriter(const SparseImageWriter&) = delete;
  SparseImageWriter& operator=(const SparseImageWriter&) = delete;

  // Appends `length` bytes.
  void Write(const uint8_t* data, size_t length) override;

  // Leaves a hole: the final size covers it.
  void WriteZeros(uint64_t length) override { size_ += length; }

  // Every byte is in the file once written.
  void Finish() override {}

  // Sets the final size, flushes and keeps the file (and its lock, until the writer goes away).
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
