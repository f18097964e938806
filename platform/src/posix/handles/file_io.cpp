#include "handles/file_io.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include <win32/errors.h>

#include "errno_map.h"
#include "handles/routed_transfer.h"
#include "storage/block_device.h"
#include "storage/volume_safety.h"

namespace kestro::posix {
namespace {

bool IsDevice(const OpenObject& object) {
  return object.kind == ObjectKind::kVolume || object.kind == ObjectKind::kDisk;
}

// Windows' rules, in the sectors the handle presents: transfers on a volume or disk cover whole
// sectors at sector offsets; with FILE_FLAG_NO_BUFFERING the buffer address must be
// sector-aligned too.
bool TransferIsAligned(const OpenObject& object, const void* buffer, DWORD size) {
  const bool sectorsOnly = IsDevice(object) || object.noBuffering;
  if (sectorsOnly && (object.pointer % object.sectorSize || size % object.sectorSize)) {
    return false;
  }
  return !object.noBuffering || reinterpret_cast<uintptr_t>(buffer) % object.sectorSize == 0;
}

// The number of bytes a transfer of `size` at the pointer may move, or an error code.
DWORD ClampToObject(const OpenObject& object, DWORD size, DWORD* allowed) {
  *allowed = size;
  if (object.kind == ObjectKind::kVolume) {
    const uint64_t left = object.pointer >= object.length ? 0 : object.length - object.pointer;
    *allowed = static_cast<DWORD>(std::min<uint64_t>(size, left));
  } else if (object.kind == ObjectKind::kDisk && size > 0 &&
             (object.pointer >= object.length || object.length - object.pointer < size)) {
    return ERROR_SECTOR_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

// A device that ends before the handle's length answers as Windows answers at a device's end,
// never with a generic I/O error; a file may simply be shorter.
bool EndedEarly(const OpenObject& object, ssize_t done, DWORD allowed) {
  if (!IsDevice(object)) return false;
  if (done >= 0) return static_cast<uint64_t>(done) < allowed;
  return errno == ENOSPC || errno == EFBIG || errno == ENXIO;
}

BOOL FailAtDeviceEnd(const OpenObject& object) {
  return Fail(object.kind == ObjectKind::kDisk ? ERROR_SECTOR_NOT_FOUND : ERROR_HANDLE_EOF);
}

BOOL Begin(OpenObject& object, const void* buffer, DWORD size, LPDWORD done, bool write,
           DWORD* allowed) {
  if (done == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *done = 0;
  if (write && !object.canWrite) return Fail(object.writeRefusal);
  if (!write && !object.canRead) return Fail(ERROR_ACCESS_DENIED);
  if (buffer == nullptr && size > 0) return Fail(ERROR_NOACCESS);
  if (!TransferIsAligned(object, buffer, size)) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD error = ClampToObject(object, size, allowed);
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

// The pointer `distance` bytes from `origin`, refused before the start or past 2^63 - 1.
BOOL PointerTarget(uint64_t origin, LONGLONG distance, uint64_t* target) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (origin > kMax) return Fail(ERROR_INVALID_PARAMETER);
  int64_t moved = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(origin), distance, &moved)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (moved < 0) return Fail(ERROR_NEGATIVE_SEEK);
  *target = static_cast<uint64_t>(moved);
  return TRUE;
}

}  // namespace

BOOL ReadObject(OpenObject& object, LPVOID buffer, DWORD size, LPDWORD done) {
  std::lock_guard<std::mutex> lock(object.mutex);
  DWORD allowed = 0;
  if (!Begin(object, buffer, size, done, false, &allowed)) return FALSE;
  const uint64_t offset = object.base + object.pointer;
  const ssize_t n = ReadRouted(object, buffer, allowed, offset);
  if (EndedEarly(object, n, allowed)) return FailAtDeviceEnd(object);
  if (n < 0) return FailFromErrno();
  object.pointer += static_cast<uint64_t>(n);
  *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WriteObject(OpenObject& object, LPCVOID buffer, DWORD size, LPDWORD done) {
  std::lock_guard<std::mutex> lock(object.mutex);
  DWORD allowed = 0;
  if (!Begin(object, buffer, size, done, true, &allowed)) return FALSE;
  const uint64_t offset = object.base + object.pointer;
  if (allowed > 0 && !WriteAllowed(object, offset, allowed)) return Fail(ERROR_ACCESS_DENIED);
  const ssize_t n = WriteRouted(object, buffer, allowed, offset);
  if (EndedEarly(object, n, allowed)) return FailAtDeviceEnd(object);
  if (n < 0) return FailFromErrno();
  if (n == 0 && allowed > 0) return Fail(ERROR_DISK_FULL);
  object.pointer += static_cast<uint64_t>(n);
  *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL ObjectSize(OpenObject& object, uint64_t* size) {
  if (IsDevice(object)) {
    *size = object.length;
    return TRUE;
  }
  auto fileSize = SizeOfOpenFile(object.fd);
  if (!fileSize) return FailFromErrno();
  *size = *fileSize;
  return TRUE;
}

BOOL MoveObjectPointer(OpenObject& object, LONGLONG distance, DWORD method, uint64_t* result) {
  uint64_t target = 0;
  if (method == FILE_CURRENT) {
    uint64_t current = object.pointer.load(std::memory_order_relaxed);
    do {
      if (!PointerTarget(current, distance, &target)) return FALSE;
    } while (!object.pointer.compare_exchange_weak(current, target, std::memory_order_relaxed));
  } else {
    uint64_t origin = 0;
    if (method == FILE_END) {
      if (!ObjectSize(object, &origin)) return FALSE;
    } else if (method != FILE_BEGIN) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!PointerTarget(origin, distance, &target)) return FALSE;
    object.pointer.store(target, std::memory_order_relaxed);
  }
  if (result) *result = target;
  return TRUE;
}

}  // namespace kestro::posix
