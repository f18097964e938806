// A byte range of a device that the commands move data from and to, at absolute offsets.
#pragma once

#include <win32/windows.h>

#include <cstddef>
#include <cstdint>

namespace kestro::cli {

// A device range read and written at absolute offsets. Errors come back as Win32 codes, so that
// a caller can retry (rescue) or put them into words.
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
};

// The thread's last Win32 error, or `fallback` when the failing call left none.
win32::DWORD LastErrorOr(win32::DWORD fallback);

}  // namespace kestro::cli
