// Writing little-endian fields into in-memory disk and volume images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestro::ondisk::images {

using Image = std::vector<uint8_t>;

inline void Put(Image& image, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) image.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}
inline void Put16(Image& image, size_t at, uint64_t value) {
  Put(image, at, value, 2);
}
inline void Put32(Image& image, size_t at, uint64_t value) {
  Put(image, at, value, 4);
}
inline void Put64(Image& image, size_t at, uint64_t value) {
  Put(image, at, value, 8);
}
inline void PutText(Image& image, size_t at, const char* text) {
  std::memcpy(&image.at(at), text, std::strlen(text));
}

// One field set to a value a parser must refuse.
struct FieldPatch {
  const char* what;
  size_t at;
  uint64_t value;
  size_t width;
};

inline void Apply(Image& image, const FieldPatch& patch) {
  Put(image, patch.at, patch.value, patch.width);
}

}  // namespace kestro::ondisk::images
