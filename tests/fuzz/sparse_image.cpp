#include "sparse_image.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kestro::fuzz {
namespace {

// Reads a little-endian number of `width` bytes at `at`, moving `at` past it; 0 past the end.
uint64_t Take(std::span<const uint8_t> input, size_t& at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width && at < input.size(); ++i) {
    value |= uint64_t{input[at++]} << (8 * i);
  }
  return value;
}

}  // namespace

SparseImage::SparseImage(std::span<const uint8_t> input) {
  size_t at = 0;
  size_ = std::clamp(Take(input, at, 4), kSmallest, kLargest);
  while (at < input.size()) {
    const uint64_t offset = Take(input, at, 4);
    const size_t length = std::min<size_t>(Take(input, at, 2), input.size() - at);
    const uint64_t kept = offset < size_ ? std::min<uint64_t>(length, size_ - offset) : 0;
    if (kept > 0) chunks_.push_back({offset, input.subspan(at, static_cast<size_t>(kept))});
    at += length;
  }
}

ondisk::Status SparseImage::Read(uint64_t offset, size_t length, uint8_t* out) const {
  if (!ondisk::FitsWithin(offset, length, size_)) {
    return ondisk::Error{ondisk::Fault::kOutOfRange, "read past the end of the image"};
  }
  std::memset(out, 0, length);
  for (const ImageChunk& chunk : chunks_) {
    const uint64_t from = std::max(offset, chunk.offset);
    const uint64_t to = std::min(offset + length, chunk.offset + chunk.bytes.size());
    if (from < to) {
      std::memcpy(out + (from - offset), chunk.bytes.data() + (from - chunk.offset), to - from);
    }
  }
  return {};
}

bool SparseImage::WriteTo(int fd) const {
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size_)) != 0) return false;
  for (const ImageChunk& chunk : chunks_) {
    const ssize_t written =
        pwrite(fd, chunk.bytes.data(), chunk.bytes.size(), static_cast<off_t>(chunk.offset));
    if (written != static_cast<ssize_t>(chunk.bytes.size())) return false;
  }
  return true;
}

}  // namespace kestro::fuzz
