// Little-endian integer fields of on-disk structures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::ondisk {

// The unsigned value of `width` (at most 8) bytes.
inline uint64_t LittleEndian(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

inline uint16_t LittleEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(LittleEndian(bytes, 2));
}

inline uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(LittleEndian(bytes, 4));
}

inline uint64_t LittleEndian64(const uint8_t* bytes) {
  return LittleEndian(bytes, 8);
}

// The two's-complement value of `width` (1 to 8) bytes.
inline int64_t SignedLittleEndian(const uint8_t* bytes, size_t width) {
  const unsigned shift = static_cast<unsigned>(64 - 8 * width);
  return static_cast<int64_t>(LittleEndian(bytes, width) << shift) >> shift;
}

}  // namespace kestro::ondisk
