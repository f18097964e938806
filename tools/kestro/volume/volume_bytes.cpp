#include <cstring>

#include "volume/volume_bytes.h"

namespace kestro::cli {

using namespace win32;

DWORD VolumeBytes::ReadAt(uint64_t offset, void* buffer, size_t length) {
  const void* data = nullptr;
  const DWORD error = ReadView(offset, length, buffer, &data);
  if (error == ERROR_SUCCESS) std::memcpy(buffer, data, length);
  return error;
}

DWORD VolumeBytes::ReadView(uint64_t offset, size_t length, void* buffer, const void** data) {
  SetLastError(ERROR_SUCCESS);
  if (!volume_.SeekNT(static_cast<LONGLONG>(offset), FILE_BEGIN)) return LastErrorOr(ERROR_SEEK);
  void* staged = nullptr;
  DWORD delivered = 0;
  const DWORD status = volume_.ReadNT(buffer, static_cast<DWORD>(length), &delivered, &staged);
  if (status != 0) return LastErrorOr(ERROR_READ_FAULT);
  if (delivered != length || staged == nullptr) return ERROR_HANDLE_EOF;
  *data = staged;
  return ERROR_SUCCESS;
}

DWORD VolumeBytes::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  SetLastError(ERROR_SUCCESS);
  if (!volume_.SeekNT(static_cast<LONGLONG>(offset), FILE_BEGIN)) return LastErrorOr(ERROR_SEEK);
  const DWORD written = volume_.WriteNT(const_cast<void*>(buffer), static_cast<DWORD>(length));
  if (written == KESTRO_WRITE_FAILED) return LastErrorOr(ERROR_WRITE_FAULT);
  return written == length ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

}  // namespace kestro::cli
