// Where the parsers get their bytes: a volume or disk seen as an array of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ondisk/errors.h"

namespace kestro::ondisk {

class ByteReader {
 public:
  virtual ~ByteReader() = default;

  // Fills `out` with exactly `length` bytes from `offset`; anything less is an error.
  virtual Status Read(uint64_t offset, size_t length, uint8_t* out) const = 0;
  // The number of bytes readable from offset 0.
  virtual uint64_t Size() const = 0;
};

// A reader over bytes already in memory (tests, fuzzers, sectors read up front).
class MemoryReader final : public ByteReader {
 public:
  explicit MemoryReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
};

// Whether [offset, offset + length) lies inside `size` bytes, without overflowing.
inline bool FitsWithin(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace kestro::ondisk
