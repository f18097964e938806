// The recognisable byte pattern of fixtures.h, apart from the fixtures that need POSIX, so that
// the suites over the fake backend have it on Windows too.
#include "fixtures.h"

namespace kestro::testing {

std::vector<uint8_t> Pattern(uint64_t offset, size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) {
    uint64_t x = (offset + i) * 0x9E3779B97F4A7C15ull + seed;
    x ^= x >> 29;
    bytes[i] = static_cast<uint8_t>(x * 0xBF58476D1CE4E5B9ull >> 56);
  }
  return bytes;
}

}  // namespace kestro::testing
