#include <cstring>

#include "byte_source.h"

namespace kestro::cli {

using namespace win32;

DWORD VolumeBytes::ReadAt(uint64_t offset, void* buffer, size_t length) {
  SetLastError(ERROR_SUCCESS);
  if (!volume_.SeekNT(static_cast<LONGLONG>(offset), FILE_BEGIN)) return LastErrorOr(ERROR_SEEK);
  void* data = nullptr;
  DWORD delivered = 0;
  const DWORD status = volume_.ReadNT(buffer, static_cast<DWORD>(length), &delivered, &data);
  if (status != 0) return LastErrorOr(ERROR_READ_FAULT);
  if (delivered != length || data == nullptr) return ERROR_HANDLE_EOF;
  std::memcpy(buffer, data, length);
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
