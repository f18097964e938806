// A byte range the commands move data from and to, at offsets from its start: a volume, a window
// of a disk, an image.
#pragma once

#include <win32/windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/errors.h"

namespace kestro::cli {

// Every range reports a failed transfer the same way: a Win32 code, which a caller can retry on
// (rescue) or stop with, and the Failure that Explain words for it.
class ByteRange {
 public:
  virtual ~ByteRange() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly `length` bytes at `offset`; ERROR_SUCCESS or the failure's code.
  virtual win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
  // Like ReadAt, but `*data` gets where the bytes are: in `buffer`, or in a buffer of the range's
  // own that stays valid until the range's next call.
  virtual win32::DWORD ReadView(uint64_t offset, size_t length, void* buffer, const void** data) {
    *data = buffer;
    return ReadAt(offset, buffer, length);
  }
  // True for a range that is all zeros and need not be read.
  virtual bool ReadsAsZeros() const { return false; }
  // What to report when a `transfer` ("read" or "write") this range failed with `error`, named as
  // at byte `offset`; `subject` names the range. By default the code's words; a range that knows
  // more says it.
  virtual Failure Explain(const std::string& subject, const char* transfer, uint64_t offset,
                          win32::DWORD error) const;
};

// The thread's last Win32 error, or `fallback` when the failing call left none.
win32::DWORD LastErrorOr(win32::DWORD fallback);

}  // namespace kestro::cli
