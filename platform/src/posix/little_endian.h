// Little-endian fields of on-disk structures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::posix {

inline uint64_t LittleEndian(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

inline uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(LittleEndian(bytes, 4));
}

}  // namespace kestro::posix
