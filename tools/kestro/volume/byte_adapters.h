// Where the on-disk parsers read an allocation map from: the volume through its object, or the
// volume's bytes at the start of an image file.
#pragma once

#include <ondisk/byte_reader.h>

#include <cstddef>
#include <cstdint>

#include "image/read/image_reader.h"
#include "volume/byte_range.h"

namespace kestro::cli {

// A byte range read in pieces that fit a staging buffer of `bufferSize` bytes.
class RangeReader final : public ondisk::ByteReader {
 public:
  RangeReader(ByteRange& range, size_t bufferSize) : range_(range), bufferSize_(bufferSize) {}

  ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return range_.size(); }

 private:
  ByteRange& range_;
  size_t bufferSize_;
};

// The first `volumeBytes` bytes of an image file; a failed read throws Failure naming the file.
class ImageVolumeReader final : public ondisk::ByteReader {
 public:
  ImageVolumeReader(ImageReader& image, uint64_t volumeBytes)
      : image_(image), volumeBytes_(volumeBytes) {}

  ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return volumeBytes_; }

 private:
  ImageReader& image_;
  uint64_t volumeBytes_;
};

}  // namespace kestro::cli
