#include "volume/disk_range.h"

namespace kestro::cli {

using namespace win32;

std::unique_ptr<DiskRange> DiskRange::Open(int number, uint64_t base, uint64_t length,
                                           bool writable, DWORD* error) {
  WCHAR name[32];
  swprintf(name, 32, WTEXT("\\\\.\\PHYSICALDRIVE%d"), number);
  const DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
  const HANDLE disk = CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (disk == INVALID_HANDLE_VALUE) {
    *error = LastErrorOr(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return std::unique_ptr<DiskRange>(new DiskRange(disk, base, length));
}

DiskRange::~DiskRange() {
  CloseHandle(disk_);
}

DWORD DiskRange::MoveTo(uint64_t offset) {
  const uint64_t position = base_ + offset;
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(disk_, distance, nullptr, FILE_BEGIN) ? ERROR_SUCCESS
                                                                : LastErrorOr(ERROR_SEEK);
}

DWORD DiskRange::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (const DWORD error = MoveTo(offset)) return error;
  DWORD done = 0;
  if (!ReadFile(disk_, buffer, static_cast<DWORD>(length), &done, nullptr)) {
    return LastErrorOr(ERROR_READ_FAULT);
  }
  return done == length ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

DWORD DiskRange::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (const DWORD error = MoveTo(offset)) return error;
  DWORD done = 0;
  if (!WriteFile(disk_, buffer, static_cast<DWORD>(length), &done, nullptr)) {
    return LastErrorOr(ERROR_WRITE_FAULT);
  }
  return done == length ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD DiskRange::Flush() {
  return FlushFileBuffers(disk_) ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

}  // namespace kestro::cli
