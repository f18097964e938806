#include "image/write/image_sink.h"

#include <algorithm>

#include "support/zero_bytes.h"

namespace kestro::cli {

void ImageSink::WriteZeros(uint64_t length) {
  while (length > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kZeroBytes, length));
    Write(ZeroBytes(), chunk);
    length -= chunk;
  }
}

}  // namespace kestro::cli
