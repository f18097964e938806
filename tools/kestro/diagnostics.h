// The library prints diagnostic lines of its own on standard output while it opens a volume.
// Standard output belongs to the command's results (cat writes raw bytes there, info --json a
// document), so the command puts a backend in front of the platform's that passes every call
// through but sends those lines to standard error, or nowhere unless asked for.
#pragma once

#include <win32/backend.h>

namespace kestro::cli {

class DiagnosticsBackend : public win32::Backend {
 public:
  DiagnosticsBackend(win32::Backend& inner, bool show) : inner_(inner), show_(show) {}

  win32::HANDLE CreateFileW(win32::LPCWSTR name, win32::DWORD access, win32::DWORD share,
                            win32::LPSECURITY_ATTRIBUTES security, win32::DWORD disposition,
                            win32::DWORD flags, win32::HANDLE templateFile) override;
  win32::BOOL ReadFile(win32::HANDLE file, win32::LPVOID buffer, win32::DWORD size,
                       win32::LPDWORD done, win32::LPOVERLAPPED overlapped) override;
  win32::BOOL WriteFile(win32::HANDLE file, win32::LPCVOID buffer, win32::DWORD size,
                        win32::LPDWORD done, win32::LPOVERLAPPED overlapped) override;
  win32::BOOL SetFilePointerEx(win32::HANDLE file, win32::LARGE_INTEGER distance,
                               win32::PLARGE_INTEGER newPointer, win32::DWORD method) override;
  win32::DWORD SetFilePointer(win32::HANDLE file, win32::LONG distance, win32::LONG* distanceHigh,
                              win32::DWORD method) override;
  win32::BOOL GetFileSizeEx(win32::HANDLE file, win32::PLARGE_INTEGER size) override;
  win32::BOOL FlushFileBuffers(win32::HANDLE file) override;
  win32::BOOL CloseHandle(win32::HANDLE object) override;
  win32::BOOL DeviceIoControl(win32::HANDLE device, win32::DWORD code, win32::LPVOID in,
                              win32::DWORD inSize, win32::LPVOID out, win32::DWORD outSize,
                              win32::LPDWORD returned, win32::LPOVERLAPPED overlapped) override;
  win32::LPVOID VirtualAlloc(win32::LPVOID address, win32::SIZE_T size, win32::DWORD type,
                             win32::DWORD protect) override;
  win32::BOOL VirtualFree(win32::LPVOID address, win32::SIZE_T size, win32::DWORD type) override;
  win32::BOOL VirtualLock(win32::LPVOID address, win32::SIZE_T size) override;
  win32::BOOL VirtualUnlock(win32::LPVOID address, win32::SIZE_T size) override;
  win32::BOOL GetVersionExW(win32::LPOSVERSIONINFOW info) override;
  win32::BOOL GetVolumeInformationW(win32::LPCWSTR root, win32::LPWSTR volumeName,
                                    win32::DWORD volumeNameSize, win32::LPDWORD serial,
                                    win32::LPDWORD maxComponent, win32::LPDWORD flags,
                                    win32::LPWSTR fileSystemName,
                                    win32::DWORD fileSystemNameSize) override;
  win32::BOOL GetDiskFreeSpaceW(win32::LPCWSTR root, win32::LPDWORD sectorsPerCluster,
                                win32::LPDWORD bytesPerSector, win32::LPDWORD freeClusters,
                                win32::LPDWORD totalClusters) override;
  win32::BOOL GetDiskFreeSpaceExW(win32::LPCWSTR root, win32::PULARGE_INTEGER availableToCaller,
                                  win32::PULARGE_INTEGER totalBytes,
                                  win32::PULARGE_INTEGER freeBytes) override;
  win32::HMODULE GetModuleHandleW(win32::LPCWSTR moduleName) override;
  win32::FARPROC GetProcAddress(win32::HMODULE module, const char* procName) override;

  void WriteStandardOutput(std::string_view utf8) override;

 private:
  win32::Backend& inner_;
  bool show_;
};

}  // namespace kestro::cli
