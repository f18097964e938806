// The output side of one DeviceIoControl request: the caller's buffer and what was put in it.
#pragma once

#include <cstddef>
#include <cstring>

#include <win32/errors.h>
#include <win32/types.h>

#include "errno_map.h"

namespace kestro::posix {

using namespace win32;

struct ControlBuffer {
  void* data = nullptr;
  DWORD size = 0;
  DWORD written = 0;  // what the request reports through lpBytesReturned

  // Fails with ERROR_INSUFFICIENT_BUFFER, as Windows' storage drivers do, unless the buffer can
  // take `bytes`.
  BOOL Require(size_t bytes) const {
    return size >= bytes ? TRUE : Fail(ERROR_INSUFFICIENT_BUFFER);
  }

  template <typename Record>
  BOOL Put(const Record& record) {
    if (!Require(sizeof record)) return FALSE;
    std::memcpy(data, &record, sizeof record);
    written = sizeof record;
    return TRUE;
  }
};

}  // namespace kestro::posix
