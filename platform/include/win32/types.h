// Win32 base types, records and constants with their published sizes and values.
#pragma once

// On Windows they are the system's own (win32/system.h).
#ifdef _WIN32
#include <win32/system.h>
#else

#include <cstddef>
#include <cstdint>

namespace win32 {

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef char16_t WCHAR;
// Wide literals are arrays of WCHAR: u"..." here, L"..." on Windows.
#define WTEXT(quote) u##quote
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t SIZE_T;
typedef HANDLE HMODULE;

// i386 System V aligns 64-bit integers to 4 inside structs; Windows aligns them to 8 everywhere.
// The attribute restores Windows' record layouts in -m32 builds. Elsewhere the alignment is 8
// already, and leaving the attribute out keeps the types usable as template arguments.
#if defined(__i386__)
typedef long long LONGLONG __attribute__((aligned(8)));
typedef unsigned long long ULONGLONG __attribute__((aligned(8)));
#else
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
#endif
static_assert(alignof(LONGLONG) == 8 && alignof(ULONGLONG) == 8);
typedef ULONGLONG DWORD64;

typedef union alignas(8) _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union alignas(8) _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

static_assert(sizeof(LARGE_INTEGER) == 8 && alignof(LARGE_INTEGER) == 8);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(OSVERSIONINFOW) == 276);

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr unsigned MAX_PATH = 260;

// The invalid handle is all bits set, as on Windows; a null handle is never a valid one either.
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// Access rights, sharing, dispositions and flags of CreateFileW.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001u;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004u;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;
inline constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
inline constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000u;

// Move methods of SetFilePointer and SetFilePointerEx.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Virtual memory.
inline constexpr DWORD MEM_COMMIT = 0x00001000u;
inline constexpr DWORD MEM_RESERVE = 0x00002000u;
inline constexpr DWORD MEM_DECOMMIT = 0x00004000u;
inline constexpr DWORD MEM_RELEASE = 0x00008000u;
inline constexpr DWORD PAGE_NOACCESS = 0x01u;
inline constexpr DWORD PAGE_READONLY = 0x02u;
inline constexpr DWORD PAGE_READWRITE = 0x04u;

// Platform identifiers of OSVERSIONINFOW.
inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Library entry notifications.
inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

typedef intptr_t (*FARPROC)();

}  // namespace win32

#endif
