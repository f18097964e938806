// The kernel32 functions: each forwards to the current backend. GetLastError and SetLastError
// keep the per-thread code where the platform does (posix/last_error.cpp, windows/).
#include <win32/windows.h>
#include <win32/backend.h>

#include <cstring>

namespace win32 {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return CurrentBackend().CreateFileW(lpFileName, dwDesiredAccess, dwShareMode,
                                      lpSecurityAttributes, dwCreationDisposition,
                                      dwFlagsAndAttributes, hTemplateFile);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  return CurrentBackend().ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                                   lpOverlapped);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  return CurrentBackend().WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                                    lpOverlapped);
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                             PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
  return CurrentBackend().SetFilePointerEx(hFile, liDistanceToMove, lpNewFilePointer, dwMoveMethod);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  return CurrentBackend().SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh,
                                         dwMoveMethod);
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  return CurrentBackend().GetFileSizeEx(hFile, lpFileSize);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  return CurrentBackend().FlushFileBuffers(hFile);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  return CurrentBackend().CloseHandle(hObject);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  return CurrentBackend().DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize,
                                          lpOutBuffer, nOutBufferSize, lpBytesReturned,
                                          lpOverlapped);
}

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                           DWORD flProtect) {
  return CurrentBackend().VirtualAlloc(lpAddress, dwSize, flAllocationType, flProtect);
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  return CurrentBackend().VirtualFree(lpAddress, dwSize, dwFreeType);
}

BOOL WINAPI VirtualLock(LPVOID lpAddress, SIZE_T dwSize) {
  return CurrentBackend().VirtualLock(lpAddress, dwSize);
}

BOOL WINAPI VirtualUnlock(LPVOID lpAddress, SIZE_T dwSize) {
  return CurrentBackend().VirtualUnlock(lpAddress, dwSize);
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  return CurrentBackend().GetVersionExW(lpVersionInformation);
}

BOOL WINAPI GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                                  DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                  LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                                  LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
  return CurrentBackend().GetVolumeInformationW(
      lpRootPathName, lpVolumeNameBuffer, nVolumeNameSize, lpVolumeSerialNumber,
      lpMaximumComponentLength, lpFileSystemFlags, lpFileSystemNameBuffer, nFileSystemNameSize);
}

BOOL WINAPI GetDiskFreeSpaceW(LPCWSTR lpRootPathName, LPDWORD lpSectorsPerCluster,
                              LPDWORD lpBytesPerSector, LPDWORD lpNumberOfFreeClusters,
                              LPDWORD lpTotalNumberOfClusters) {
  return CurrentBackend().GetDiskFreeSpaceW(lpRootPathName, lpSectorsPerCluster, lpBytesPerSector,
                                            lpNumberOfFreeClusters, lpTotalNumberOfClusters);
}

BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName,
                                PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                PULARGE_INTEGER lpTotalNumberOfBytes,
                                PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return CurrentBackend().GetDiskFreeSpaceExW(lpDirectoryName, lpFreeBytesAvailableToCaller,
                                              lpTotalNumberOfBytes, lpTotalNumberOfFreeBytes);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  return CurrentBackend().GetModuleHandleW(lpModuleName);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, const char* lpProcName) {
  return CurrentBackend().GetProcAddress(hModule, lpProcName);
}

HMODULE Kernel32ModuleHandle() {
  static int marker;
  return reinterpret_cast<HMODULE>(&marker);
}

namespace {

// GCC allows casts between unrelated function types only through void (*)().
template <typename Function>
FARPROC AsProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

FARPROC LookupKernel32Export(const char* procName) {
  struct Export {
    const char* name;
    FARPROC address;
  };
  static const Export exports[] = {
      {"CloseHandle", AsProc(&CloseHandle)},
      {"CreateFileW", AsProc(&CreateFileW)},
      {"DeviceIoControl", AsProc(&DeviceIoControl)},
      {"FlushFileBuffers", AsProc(&FlushFileBuffers)},
      {"GetDiskFreeSpaceExW", AsProc(&GetDiskFreeSpaceExW)},
      {"GetDiskFreeSpaceW", AsProc(&GetDiskFreeSpaceW)},
      {"GetFileSizeEx", AsProc(&GetFileSizeEx)},
      {"GetLastError", AsProc(&GetLastError)},
      {"GetModuleHandleW", AsProc(&GetModuleHandleW)},
      {"GetProcAddress", AsProc(&GetProcAddress)},
      {"GetVersionExW", AsProc(&GetVersionExW)},
      {"GetVolumeInformationW", AsProc(&GetVolumeInformationW)},
      {"ReadFile", AsProc(&ReadFile)},
      {"SetFilePointer", AsProc(&SetFilePointer)},
      {"SetFilePointerEx", AsProc(&SetFilePointerEx)},
      {"SetLastError", AsProc(&SetLastError)},
      {"VirtualAlloc", AsProc(&VirtualAlloc)},
      {"VirtualFree", AsProc(&VirtualFree)},
      {"VirtualLock", AsProc(&VirtualLock)},
      {"VirtualUnlock", AsProc(&VirtualUnlock)},
      {"WriteFile", AsProc(&WriteFile)},
  };
  if (procName == nullptr) return nullptr;
  for (const Export& e : exports) {
    if (std::strcmp(e.name, procName) == 0) return e.address;
  }
  return nullptr;
}

}  // namespace win32
