#include "support/byte_range.h"

namespace kestro::cli {

using namespace win32;

Failure ByteRange::Explain(const std::string& subject, const char* transfer, uint64_t offset,
                           DWORD error) const {
  return Failure(subject, std::string(transfer) + " failed at byte " + std::to_string(offset) +
                              ": " + DescribeError(error));
}

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace kestro::cli
