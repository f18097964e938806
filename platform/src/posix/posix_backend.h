// The default backend: Win32 semantics over POSIX files, Linux block devices and the drive map.
#pragma once

#include <win32/backend.h>

#include "handle_table.h"

namespace kestro::posix {

using namespace win32;

class PosixBackend : public Backend {
 public:
  HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                 LPOVERLAPPED overlapped) override;
  BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                        DWORD method) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override;
  BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) override;
  BOOL FlushFileBuffers(HANDLE file) override;
  BOOL CloseHandle(HANDLE object) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;

  LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) override;
  BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) override;
  BOOL VirtualLock(LPVOID address, SIZE_T size) override;
  BOOL VirtualUnlock(LPVOID address, SIZE_T size) override;

  BOOL GetVersionExW(LPOSVERSIONINFOW info) override;
  BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                             LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystemName,
                             DWORD fileSystemNameSize) override;
  BOOL GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                         LPDWORD freeClusters, LPDWORD totalClusters) override;
  BOOL GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                           PULARGE_INTEGER totalBytes, PULARGE_INTEGER freeBytes) override;

  HMODULE GetModuleHandleW(LPCWSTR moduleName) override;
  FARPROC GetProcAddress(HMODULE module, const char* procName) override;

  void WriteStandardOutput(std::string_view utf8) override;

 private:
  // The object behind `handle`, or nullptr with ERROR_INVALID_HANDLE set.
  std::shared_ptr<OpenObject> Lookup(HANDLE handle);

  HandleTable handles_;
};

}  // namespace kestro::posix
