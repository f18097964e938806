// The adapters between the three ways the command reads bytes: a device's ByteRange (which
// returns Win32 codes), an ImageReader (which throws Failure) and the on-disk parsers'
// ByteReader (which returns a status).
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

// An image as a range to read, for the loops that compare it; it fails by throwing, so its reads
// always report success, and it cannot be written.
class ImageBytes final : public ByteRange {
 public:
  explicit ImageBytes(ImageReader& image) : image_(image) {}
  uint64_t size() const override { return image_.size(); }
  win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override;
  win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) override;

 private:
  ImageReader& image_;
};

}  // namespace kestro::cli
