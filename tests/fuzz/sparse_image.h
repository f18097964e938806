// A disk image described compactly, so that a fuzzer's input can stand for megabytes that are
// mostly zero: a little-endian 32-bit image size, then chunks of a 32-bit offset, a 16-bit
// length and that many bytes, laid in order over zeros. A chunk cut short by the end of the input
// keeps the bytes it has; anything past the image's size is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <ondisk/byte_reader.h>

namespace kestro::fuzz {

struct ImageChunk {
  uint64_t offset = 0;
  std::span<const uint8_t> bytes;
};

class SparseImage final : public ondisk::ByteReader {
 public:
  // Images are kept between these sizes, whatever the input asks for.
  static constexpr uint64_t kSmallest = 4096;
  static constexpr uint64_t kLargest = 64u << 20;

  explicit SparseImage(std::span<const uint8_t> input);

  ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return size_; }

  // Writes the image into the open file `fd`, which it truncates first; false on any failure.
  bool WriteTo(int fd) const;

 private:
  uint64_t size_ = kSmallest;
  std::vector<ImageChunk> chunks_;
};

}  // namespace kestro::fuzz
