#include "posix_backend.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <win32/errors.h>
#include <win32/kernel32.h>
#include <win32/wide.h>

#include "errno_map.h"
#include "handles/file_io.h"
#include "handles/open_device.h"
#include "ioctl/device_control.h"
#include "virtual_memory.h"
#include "volumes/volume_queries.h"
#include "vwin32/vwin32_device.h"
#include "windows_release.h"

namespace win32 {

Backend& DefaultBackend() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static Backend* backend = new kestro::posix::PosixBackend();
  return *backend;
}

}  // namespace win32

namespace kestro::posix {
namespace {

DWORD ClampToDword(uint64_t value) {
  return static_cast<DWORD>(std::min<uint64_t>(value, 0xFFFFFFFFu));
}

}  // namespace

HandleTable::Use PosixBackend::Lookup(HANDLE handle) {
  auto object = handles_.Find(handle);
  if (!object) Fail(ERROR_INVALID_HANDLE);
  return object;
}

HANDLE PosixBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                                 DWORD disposition, DWORD flags, HANDLE) {
  auto object = OpenNamedObject(name, access, disposition, flags);
  if (!object) return INVALID_HANDLE_VALUE;
  HANDLE handle = handles_.Insert(std::move(object));
  if (handle == nullptr) {
    Fail(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL PosixBackend::ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                            LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  auto object = Lookup(file);
  return object ? ReadObject(*object, buffer, size, done) : FALSE;
}

BOOL PosixBackend::WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                             LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  auto object = Lookup(file);
  return object ? WriteObject(*object, buffer, size, done) : FALSE;
}

BOOL PosixBackend::SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                                    DWORD method) {
  auto object = Lookup(file);
  uint64_t pointer = 0;
  if (!object || !MoveObjectPointer(*object, distance.QuadPart, method, &pointer)) return FALSE;
  if (newPointer) newPointer->QuadPart = static_cast<LONGLONG>(pointer);
  return TRUE;
}

DWORD PosixBackend::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  auto object = Lookup(file);
  if (!object) return INVALID_SET_FILE_POINTER;
  LONGLONG move = distance;
  if (distanceHigh) {
    move =
        static_cast<LONGLONG>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                              static_cast<uint32_t>(distance));
  }
  uint64_t saved = object->pointer;
  uint64_t pointer = 0;
  if (!MoveObjectPointer(*object, move, method, &pointer)) return INVALID_SET_FILE_POINTER;
  // Without a high part the caller can only be told of positions below 4 GiB.
  if (!distanceHigh && pointer > 0xFFFFFFFEu) {
    object->pointer = saved;
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(pointer >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pointer);
}

BOOL PosixBackend::GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  auto object = Lookup(file);
  uint64_t bytes = 0;
  if (!object || !ObjectSize(*object, &bytes)) return FALSE;
  if (size == nullptr) return Fail(ERROR_NOACCESS);
  size->QuadPart = static_cast<LONGLONG>(bytes);
  return TRUE;
}

BOOL PosixBackend::FlushFileBuffers(HANDLE file) {
  auto object = Lookup(file);
  if (!object) return FALSE;
  return fsync(object->fd) == 0 ? TRUE : FailFromErrno();
}

BOOL PosixBackend::CloseHandle(HANDLE handle) {
  return handles_.Remove(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL PosixBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                   DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  if (overlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
  auto object = Lookup(device);
  if (!object) return FALSE;
  if (object->kind == ObjectKind::kLegacyDevice) {
    return ControlLegacyDevice(*object, code, in, inSize, out, outSize, returned);
  }
  return ControlDevice(*object, code, in, inSize, out, outSize, returned);
}

LPVOID PosixBackend::VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  return AllocatePages(address, size, type, protect);
}

BOOL PosixBackend::VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  return FreePages(address, size, type);
}

BOOL PosixBackend::VirtualLock(LPVOID address, SIZE_T size) {
  return LockPages(address, size);
}

BOOL PosixBackend::VirtualUnlock(LPVOID address, SIZE_T size) {
  return UnlockPages(address, size);
}

BOOL PosixBackend::GetVersionExW(LPOSVERSIONINFOW info) {
  return FillVersion(info);
}

BOOL PosixBackend::GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize,
                                         LPDWORD serial, LPDWORD maxComponent, LPDWORD flags,
                                         LPWSTR fileSystemName, DWORD fileSystemNameSize) {
  return QueryVolumeInformation(root, volumeName, volumeNameSize, serial, maxComponent, flags,
                                fileSystemName, fileSystemNameSize);
}

BOOL PosixBackend::GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster,
                                     LPDWORD bytesPerSector, LPDWORD freeClusters,
                                     LPDWORD totalClusters) {
  VolumeSpace space;
  if (!QueryFreeSpace(root, &space)) return FALSE;
  const uint32_t clusterSize = std::max(space.clusterBytes, space.sectorBytes);
  if (sectorsPerCluster) *sectorsPerCluster = clusterSize / space.sectorBytes;
  if (bytesPerSector) *bytesPerSector = space.sectorBytes;
  if (freeClusters) *freeClusters = ClampToDword(space.freeBytes / clusterSize);
  if (totalClusters) *totalClusters = ClampToDword(space.totalBytes / clusterSize);
  return TRUE;
}

BOOL PosixBackend::GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                                       PULARGE_INTEGER totalBytes, PULARGE_INTEGER freeBytes) {
  VolumeSpace space;
  if (!QueryFreeSpace(root, &space)) return FALSE;
  if (availableToCaller) availableToCaller->QuadPart = space.freeBytes;
  if (totalBytes) totalBytes->QuadPart = space.totalBytes;
  if (freeBytes) freeBytes->QuadPart = space.freeBytes;
  return TRUE;
}

HMODULE PosixBackend::GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName &&
      (_wcsicmp(moduleName, u"kernel32.dll") == 0 || _wcsicmp(moduleName, u"kernel32") == 0)) {
    return Kernel32ModuleHandle();
  }
  Fail(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC PosixBackend::GetProcAddress(HMODULE module, const char* procName) {
  if (module != Kernel32ModuleHandle()) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  FARPROC address = LookupKernel32Export(procName);
  if (!address) Fail(ERROR_PROC_NOT_FOUND);
  return address;
}

void PosixBackend::WriteStandardOutput(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

}  // namespace kestro::posix
