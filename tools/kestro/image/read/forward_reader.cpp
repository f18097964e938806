#include "image/read/forward_reader.h"

#include <algorithm>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// Bytes skipped over are decoded into a buffer of this size, a piece at a time.
constexpr size_t kSkipChunk = 1u << 16;

}  // namespace

void ForwardReader::ReadExactly(uint8_t* buffer, size_t length) {
  while (length > 0) {
    const size_t n = ReadNext(buffer, length);
    if (n == 0) throw Failure(name_, "ends early, at byte " + std::to_string(position_));
    position_ += n;
    buffer += n;
    length -= n;
  }
}

void ForwardReader::Read(uint64_t offset, void* buffer, size_t length) {
  if (offset < position_) {
    Restart();
    position_ = 0;
  }
  if (position_ < offset) skipped_.resize(kSkipChunk);
  while (position_ < offset) {
    ReadExactly(skipped_.data(),
                static_cast<size_t>(std::min<uint64_t>(kSkipChunk, offset - position_)));
  }
  ReadExactly(static_cast<uint8_t*>(buffer), length);
}

uint64_t ForwardReader::Measure() {
  skipped_.resize(kSkipChunk);
  while (const size_t n = ReadNext(skipped_.data(), skipped_.size())) position_ += n;
  const uint64_t total = position_;
  Restart();
  position_ = 0;
  return total;
}

void ForwardReader::CheckEnd() {
  Read(size_, nullptr, 0);
  uint8_t beyond = 0;
  if (ReadNext(&beyond, 1) != 0) {
    throw Failure(name_, BeyondEnd());
  }
}

std::string ForwardReader::BeyondEnd() const {
  return "goes on past byte " + std::to_string(size_) + ", where the image ends";
}

}  // namespace kestro::cli
