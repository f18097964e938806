// The kernel32 functions the library calls, with their Win32 signatures and semantics.
//
// Each one forwards to the installed backend (win32/backend.h); the POSIX backend is the default,
// and on Windows one that calls the system. They have the system's calling convention, so that
// GetProcAddress can hand them out as kernel32's exports.
#pragma once

#include <win32/platform_api.h>
#include <win32/types.h>

#ifndef WINAPI
#define WINAPI
#endif

namespace win32 {

KESTROPLAT_API HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess,
                                         DWORD dwShareMode,
                                         LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                         DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                         HANDLE hTemplateFile);
KESTROPLAT_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                    LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
KESTROPLAT_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                     LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
KESTROPLAT_API BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                            PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
KESTROPLAT_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                           LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod);
KESTROPLAT_API BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
KESTROPLAT_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
KESTROPLAT_API BOOL WINAPI CloseHandle(HANDLE hObject);
KESTROPLAT_API BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                           DWORD nInBufferSize, LPVOID lpOutBuffer,
                                           DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                           LPOVERLAPPED lpOverlapped);

KESTROPLAT_API LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                          DWORD flProtect);
KESTROPLAT_API BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
KESTROPLAT_API BOOL WINAPI VirtualLock(LPVOID lpAddress, SIZE_T dwSize);
KESTROPLAT_API BOOL WINAPI VirtualUnlock(LPVOID lpAddress, SIZE_T dwSize);

KESTROPLAT_API BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
KESTROPLAT_API BOOL WINAPI GetVolumeInformationW(
    LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
    LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
    LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize);
KESTROPLAT_API BOOL WINAPI GetDiskFreeSpaceW(LPCWSTR lpRootPathName, LPDWORD lpSectorsPerCluster,
                                             LPDWORD lpBytesPerSector,
                                             LPDWORD lpNumberOfFreeClusters,
                                             LPDWORD lpTotalNumberOfClusters);
KESTROPLAT_API BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName,
                                               PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                               PULARGE_INTEGER lpTotalNumberOfBytes,
                                               PULARGE_INTEGER lpTotalNumberOfFreeBytes);

KESTROPLAT_API HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
KESTROPLAT_API FARPROC WINAPI GetProcAddress(HMODULE hModule, const char* lpProcName);

// The last error is kept per thread, as on Windows.
KESTROPLAT_API DWORD WINAPI GetLastError();
KESTROPLAT_API void WINAPI SetLastError(DWORD dwErrCode);

}  // namespace win32
