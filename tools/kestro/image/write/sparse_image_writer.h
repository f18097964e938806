// Writes an image file front to back, leaving holes where whole blocks are zero: zero runs are
// seeked over and the final size is set at the end, so the file takes disk space only for the
// data. Until Commit, the file is a partial image and is removed when the writer goes away. The
// writer holds the file's lock from creation until it goes away (see partial_file.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_folder.h"
#include "image/image_format.h"
#include "image/write/image_sink.h"

namespace kestro::cli {

class SparseImageWriter : public ImageSink {
 public:
  // Creates `name` in `folder` with exactly `mode`, replacing one left by a backup that died;
  // throws Failure when it cannot or when a running backup holds it.
  SparseImageWriter(const ImageFolder& folder, std::string name, mode_t mode);
  ~SparseImageWriter() override;
  SparseImageWriter(const SparseImageWriter&) = delete;
  SparseImageWriter& operator=(const SparseImageWriter&) = delete;

  // Appends `length` bytes.
  void Write(const uint8_t* data, size_t length) override;

  // Leaves a hole: the final size covers it.
  void WriteZeros(uint64_t length) override { size_ += length; }

  // Every byte is in the file once written.
  void Finish() override {}

  // Sets the final size and flushes the file.
  void Flush();
  // Keeps the file when the writer goes away (its lock is held until then).
  void Keep() { committed_ = true; }
  void Commit() {
    Flush();
    Keep();
  }

  uint64_t size() const { return size_; }
  // What identifies the flushed file to a reader of its sidecar.
  FileIdentity identity() const;

 private:
  void WriteRun(const uint8_t* data, size_t length, uint64_t offset);

  const ImageFolder& folder_;
  std::string name_;
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  bool committed_ = false;
};

// True when `length` bytes at `data` are all zero.
bool IsAllZero(const uint8_t* data, size_t length);

}  // namespace kestro::cli
