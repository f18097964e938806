#include "used/range_reader.h"

#include <algorithm>

#include "volume/sector.h"

namespace kestro::cli {

ondisk::Status RangeReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  if (!ondisk::FitsWithin(offset, length, size_)) {
    return ondisk::Error{ondisk::Fault::kOutOfRange, "a read past the end of the volume"};
  }
  while (length > 0) {
    const size_t piece = std::min(length, bufferSize_ - static_cast<size_t>(offset % kSectorSize));
    if (const win32::DWORD error = range_.ReadAt(offset, out, piece)) {
      if (!failure_) failure_ = range_.Explain(subject_, "read", offset, error);
      return ondisk::Error{ondisk::Fault::kReadFailed, "the volume could not be read"};
    }
    offset += piece;
    out += piece;
    length -= piece;
  }
  return {};
}

void RangeReader::ThrowReadFailure() const {
  if (failure_) throw *failure_;
}

}  // namespace kestro::cli
