#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/image_format.h"

namespace kestro::cli {

// An image's bytes read at absolute offsets; failures throw Failure naming the image and the
// offset. A file is read anywhere; a stream (standard input, a compressed image) is read front
// to back: a read may skip forward, and a read further back starts a compressed file over.
class ImageReader {
 public:
  virtual ~ImageReader() = default;
  virtual uint64_t size() const = 0;
  virtual void ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  // "zstd" for a compressed image, "none" for raw bytes, as the sidecar records it.
  virtual const char* compression() const { return "none"; }
  // True when the image carries checksums of its own bytes, which reading it checks.
  virtual bool checksummed() const { return false; }
  // The file the image is read from; nothing for standard input.
  const std::optional<FileIdentity>& file() const { return file_; }
  void set_file(const FileIdentity& file) { file_ = file; }
  // After the last byte has been read: fails unless the image ends there, having checked what a
  // stream keeps after its data (a compressed image's checksum).
  virtual void ReadEnd() {}

 private:
  std::optional<FileIdentity> file_;
};

}  // namespace kestro::cli
