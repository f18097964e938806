#include "volume/byte_source.h"

namespace kestro::cli {

using namespace win32;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

uint64_t TotalLength(const std::vector<Segment>& segments) {
  uint64_t total = 0;
  for (const Segment& segment : segments) total += segment.length;
  return total;
}

}  // namespace kestro::cli
