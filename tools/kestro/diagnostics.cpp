#include "diagnostics.h"

#include <cstdio>

namespace kestro::cli {

using namespace win32;

HANDLE DiagnosticsBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD flags, HANDLE templateFile) {
  return inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

BOOL DiagnosticsBackend::ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                                  LPOVERLAPPED overlapped) {
  return inner_.ReadFile(file, buffer, size, done, overlapped);
}

BOOL DiagnosticsBackend::WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                                   LPOVERLAPPED overlapped) {
  return inner_.WriteFile(file, buffer, size, done, overlapped);
}

BOOL DiagnosticsBackend::SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                                          PLARGE_INTEGER newPointer, DWORD method) {
  return inner_.SetFilePointerEx(file, distance, newPointer, method);
}

DWORD DiagnosticsBackend::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                         DWORD method) {
  return inner_.SetFilePointer(file, distance, distanceHigh, method);
}

BOOL DiagnosticsBackend::GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  return inner_.GetFileSizeEx(file, size);
}

BOOL DiagnosticsBackend::FlushFileBuffers(HANDLE file) {
  return inner_.FlushFileBuffers(file);
}

BOOL DiagnosticsBackend::CloseHandle(HANDLE object) {
  return inner_.CloseHandle(object);
}

BOOL DiagnosticsBackend::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize,
                                         LPVOID out, DWORD outSize, LPDWORD returned,
                                         LPOVERLAPPED overlapped) {
  return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

LPVOID DiagnosticsBackend::VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  return inner_.VirtualAlloc(address, size, type, protect);
}

BOOL DiagnosticsBackend::VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  return inner_.VirtualFree(address, size, type);
}

BOOL DiagnosticsBackend::VirtualLock(LPVOID address, SIZE_T size) {
  return inner_.VirtualLock(address, size);
}

BOOL DiagnosticsBackend::VirtualUnlock(LPVOID address, SIZE_T size) {
  return inner_.VirtualUnlock(address, size);
}

BOOL DiagnosticsBackend::GetVersionExW(LPOSVERSIONINFOW info) {
  return inner_.GetVersionExW(info);
}

BOOL DiagnosticsBackend::GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName,
                                               DWORD volumeNameSize, LPDWORD serial,
                                               LPDWORD maxComponent, LPDWORD flags,
                                               LPWSTR fileSystemName, DWORD fileSystemNameSize) {
  return inner_.GetVolumeInformationW(root, volumeName, volumeNameSize, serial, maxComponent, flags,
                                      fileSystemName, fileSystemNameSize);
}

BOOL DiagnosticsBackend::GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectorsPerCluster,
                                           LPDWORD bytesPerSector, LPDWORD freeClusters,
                                           LPDWORD totalClusters) {
  return inner_.GetDiskFreeSpaceW(root, sectorsPerCluster, bytesPerSector, freeClusters,
                                  totalClusters);
}

BOOL DiagnosticsBackend::GetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER availableToCaller,
                                             PULARGE_INTEGER totalBytes,
                                             PULARGE_INTEGER freeBytes) {
  return inner_.GetDiskFreeSpaceExW(root, availableToCaller, totalBytes, freeBytes);
}

HMODULE DiagnosticsBackend::GetModuleHandleW(LPCWSTR moduleName) {
  return inner_.GetModuleHandleW(moduleName);
}

FARPROC DiagnosticsBackend::GetProcAddress(HMODULE module, const char* procName) {
  return inner_.GetProcAddress(module, procName);
}

void DiagnosticsBackend::WriteStandardOutput(std::string_view utf8) {
  if (!show_) return;
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace kestro::cli
