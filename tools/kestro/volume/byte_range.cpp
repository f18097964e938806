#include "volume/byte_range.h"

namespace kestro::cli {

using namespace win32;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace kestro::cli
