// A byte range as the on-disk parsers and the ext library read it: through ondisk's ByteReader,
// whose reads return a status.
#pragma once

#include <ondisk/byte_reader.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "support/byte_range.h"

namespace kestro::cli {

// The first `size` bytes of `range` (named `subject`), read in pieces that fit a staging buffer
// of `bufferSize` bytes. A failed read returns kReadFailed and keeps the range's Failure, which
// ThrowReadFailure raises where a parser's refusal would otherwise hide it.
class RangeReader final : public ondisk::ByteReader {
 public:
  RangeReader(ByteRange& range, std::string subject, size_t bufferSize, uint64_t size)
      : range_(range), subject_(std::move(subject)), bufferSize_(bufferSize), size_(size) {}

  ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return size_; }

  // Throws the Failure of the first read that failed, if one did.
  void ThrowReadFailure() const;

 private:
  ByteRange& range_;
  std::string subject_;
  size_t bufferSize_;
  uint64_t size_;
  mutable std::optional<Failure> failure_;
};

}  // namespace kestro::cli
