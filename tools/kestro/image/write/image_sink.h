// Where a backup puts the image's bytes, front to back: a sparse image file, a compressor in
// front of one, or standard output. The block loop writes to whichever the command chose.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::cli {

class ImageSink {
 public:
  virtual ~ImageSink() = default;

  // Appends `length` bytes; throws Failure when they cannot all be written.
  virtual void Write(const uint8_t* data, size_t length) = 0;

  // Appends `length` zero bytes, the bytes of a hole; a sink that can leave a hole leaves one.
  virtual void WriteZeros(uint64_t length);

  // After the last byte: passes on whatever the sink still holds back; throws Failure when it
  // cannot. Keeping the destination (committing a file) is its owner's business.
  virtual void Finish() = 0;
};

}  // namespace kestro::cli
