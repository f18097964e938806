#include "ondisk/byte_reader.h"

#include <cstring>

namespace kestro::ondisk {

Status MemoryReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  if (!FitsWithin(offset, length, bytes_.size())) {
    return Error{Fault::kOutOfRange, "read past the end of the bytes"};
  }
  if (length > 0) std::memcpy(out, bytes_.data() + offset, length);
  return {};
}

}  // namespace kestro::ondisk
