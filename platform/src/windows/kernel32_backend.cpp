// The default backend on Windows: every call goes to the system's kernel32, and diagnostic lines
// to the process's standard output. This file is compiled against the system's own declarations
// (without KESTRO_WIN32_THROUGH_BACKEND), so ::CreateFileW here is the system's.
#include <win32/backend.h>
#include <win32/kernel32.h>

#include <cstdio>

namespace win32 {
namespace {

class Kernel32Backend : public Backend {
 public:
  HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override {
    return ::CreateFileW(name, access, share, security, disposition, flags, templateFile);
  }
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                LPOVERLAPPED overlapped) override {
    return ::ReadFile(file, buffer, size, done, overlapped);
  }
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                 LPOVERLAPPED overlapped) override {
    return ::WriteFile(file, buffer, size, done, overlapped);
  }
  BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                        DWORD method) override {
    return ::SetFilePointerEx(file, distance, newPointer, method);
  }
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override {
    return ::SetFilePointer(file, distance, distanceHigh, method);
  }
  BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) override {
    return ::GetFileSizeEx(file, size);
  }
  BOOL FlushFileBuffers(HANDLE file) override { return ::FlushFileBuffers(file); }
  BOOL CloseHandle(HANDLE object) override { return ::CloseHandle(object); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
  }

  LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) override {
    return ::VirtualAlloc(address, size, type, protect);
  }
  BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) override {
    return ::VirtualFree(address, size, type);
  }
  BOOL VirtualLock(LPVOID address, SIZE_T size) override { return ::VirtualLock(address, size); }
  BOOL VirtualUnlock(LPVOID address, SIZE_T size) override {
    return ::VirtualUnlock(address, size);
  }

  BOOL GetVersionExW(LPOSVERSIONINFOW info) override { return ::GetVersionExW(info); }
  BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                             LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystemName,
                             DWORD fileSystemNameSize) override {
    return ::GetVolumeInformationW(root, volumeName, volumeNameSize, serial, maxComponent, flags,
                                   fileSystemName, fileSystemNameSize);
  }
  BOOL GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                         LPDWORD freeClusters, LPDWORD totalClusters) override {
    return ::GetDiskFreeSpaceW(root, sectorsPerCluster, bytesPerSector, freeClusters,
                               totalClusters);
  }
  BOOL GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                           PULARGE_INTEGER totalBytes, PULARGE_INTEGER freeBytes) override {
    return ::GetDiskFreeSpaceExW(root, availableToCaller, totalBytes, freeBytes);
  }

  HMODULE GetModuleHandleW(LPCWSTR moduleName) override { return ::GetModuleHandleW(moduleName); }
  FARPROC GetProcAddress(HMODULE module, const char* procName) override {
    return ::GetProcAddress(module, procName);
  }

  // Raw bytes, past the runtime's text-mode translation that would double each "\r". Whatever the
  // host has buffered in stdout goes first. Without a console the line is simply lost.
  void WriteStandardOutput(std::string_view utf8) override {
    std::fflush(stdout);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
};

}  // namespace

Backend& DefaultBackend() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static Backend* backend = new Kernel32Backend();
  return *backend;
}

// The system keeps the last error per thread; the fake backend sets it through here too.
DWORD WINAPI GetLastError() {
  return ::GetLastError();
}

void WINAPI SetLastError(DWORD dwErrCode) {
  ::SetLastError(dwErrCode);
}

}  // namespace win32
