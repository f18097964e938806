#include "volume/byte_adapters.h"

#include <algorithm>

#include "volume/sector.h"

namespace kestro::cli {

ondisk::Status RangeReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  if (!ondisk::FitsWithin(offset, length, Size())) {
    return ondisk::Error{ondisk::Fault::kOutOfRange, "a read past the end of the volume"};
  }
  while (length > 0) {
    const size_t piece = std::min(length, bufferSize_ - static_cast<size_t>(offset % kSectorSize));
    if (range_.ReadAt(offset, out, piece) != win32::ERROR_SUCCESS) {
      return ondisk::Error{ondisk::Fault::kReadFailed, "the volume could not be read"};
    }
    offset += piece;
    out += piece;
    length -= piece;
  }
  return {};
}

ondisk::Status ImageVolumeReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  if (!ondisk::FitsWithin(offset, length, volumeBytes_)) {
    return ondisk::Error{ondisk::Fault::kOutOfRange, "a read past the volume's end in the image"};
  }
  image_.ReadAt(offset, out, length);
  return {};
}

win32::DWORD ImageBytes::ReadAt(uint64_t offset, void* buffer, size_t length) {
  image_.ReadAt(offset, buffer, length);
  return win32::ERROR_SUCCESS;
}

win32::DWORD ImageBytes::WriteAt(uint64_t, const void*, size_t) {
  return win32::ERROR_ACCESS_DENIED;
}

}  // namespace kestro::cli
