#include "support/zero_bytes.h"

namespace kestro::cli {

const uint8_t* ZeroBytes() {
  alignas(4096) static const uint8_t zeros[kZeroBytes] = {};
  return zeros;
}

}  // namespace kestro::cli
