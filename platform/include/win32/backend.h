// The backend behind the kernel32 functions: one small interface, a POSIX implementation that
// is installed by default, and a guard that lets a test put its own in place for a scope.
#pragma once

#include <string_view>

#include <win32/platform_api.h>
#include <win32/types.h>

namespace win32 {

class KESTROPLAT_API Backend {
 public:
  virtual ~Backend();

  virtual HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) = 0;
  virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                        LPOVERLAPPED overlapped) = 0;
  virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                         LPOVERLAPPED overlapped) = 0;
  virtual BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                                DWORD method) = 0;
  virtual DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) = 0;
  virtual BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) = 0;
  virtual BOOL FlushFileBuffers(HANDLE file) = 0;
  virtual BOOL CloseHandle(HANDLE object) = 0;
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                               DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) = 0;

  virtual LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) = 0;
  virtual BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) = 0;
  virtual BOOL VirtualLock(LPVOID address, SIZE_T size) = 0;
  virtual BOOL VirtualUnlock(LPVOID address, SIZE_T size) = 0;

  virtual BOOL GetVersionExW(LPOSVERSIONINFOW info) = 0;
  virtual BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize,
                                     LPDWORD serial, LPDWORD maxComponent, LPDWORD flags,
                                     LPWSTR fileSystemName, DWORD fileSystemNameSize) = 0;
  virtual BOOL GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                 LPDWORD freeClusters, LPDWORD totalClusters) = 0;
  virtual BOOL GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                                   PULARGE_INTEGER totalBytes, PULARGE_INTEGER freeBytes) = 0;

  virtual HMODULE GetModuleHandleW(LPCWSTR moduleName) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, const char* procName) = 0;

  // Receives each diagnostic line, already formatted and encoded as UTF-8.
  virtual void WriteStandardOutput(std::string_view utf8) = 0;
};

// The backend the kernel32 functions forward to.
KESTROPLAT_API Backend& CurrentBackend();

// The platform's own backend (POSIX; on Windows the system's kernel32), created on first use and
// never destroyed.
KESTROPLAT_API Backend& DefaultBackend();

// Installs a backend for the lifetime of the guard and restores the previous one afterwards.
class KESTROPLAT_API ScopedBackend {
 public:
  explicit ScopedBackend(Backend& backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous_;
};

// The layer's own kernel32 exports, by name, as GetProcAddress resolves them.
KESTROPLAT_API FARPROC LookupKernel32Export(const char* procName);

// The module handle GetModuleHandleW gives for "kernel32.dll".
KESTROPLAT_API HMODULE Kernel32ModuleHandle();

}  // namespace win32
