// Free space and file-pointer moves that use the newer kernel functions where the system has
// them and fall back to the older ones where it does not.
#include <Kestro32.h>

using namespace win32;

namespace {

typedef BOOL(WINAPI* GetDiskFreeSpaceExWProc)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                              PULARGE_INTEGER);
typedef BOOL(WINAPI* SetFilePointerExProc)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);

// Looks the procedure up in the already loaded kernel32, at every call.
template <typename Proc>
Proc FindKernel32Proc(const char* name) {
  const FARPROC found = GetProcAddress(GetModuleHandleW(WTEXT("kernel32.dll")), name);
  // GCC allows casts between unrelated function types only through void (*)().
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

int CKestro32::MyGetDiskFreeSpaceEx(const WCHAR* rootPath, ULONGLONG* totalBytes,
                                    ULONGLONG* freeBytes) {
  if (totalBytes) *totalBytes = 0;
  if (freeBytes) *freeBytes = 0;
  if (auto extended = FindKernel32Proc<GetDiskFreeSpaceExWProc>("GetDiskFreeSpaceExW")) {
    ULARGE_INTEGER available{}, total{}, free{};
    const BOOL result = extended(rootPath, &available, &total, &free);
    if (result) {
      if (totalBytes) *totalBytes = total.QuadPart;
      if (freeBytes) *freeBytes = free.QuadPart;
    }
    return result;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  const BOOL result = GetDiskFreeSpaceW(rootPath, &sectorsPerCluster, &bytesPerSector,
                                        &freeClusters, &totalClusters);
  if (result) {
    if (totalBytes) {
      *totalBytes = ULONGLONG(totalClusters) * bytesPerSector * sectorsPerCluster;
    }
    if (freeBytes) *freeBytes = ULONGLONG(freeClusters) * bytesPerSector * sectorsPerCluster;
  }
  return result;
}

int MySetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                       LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) {
  if (auto extended = FindKernel32Proc<SetFilePointerExProc>("SetFilePointerEx")) {
    return extended(hFile, liDistanceToMove, lpNewFilePointer, dwMoveMethod);
  }
  LONG high = liDistanceToMove.HighPart;
  // A new position whose low half is all ones succeeds with no error code; clear any stale one
  // first so that such a success is not taken for a failure.
  SetLastError(NO_ERROR);
  const DWORD low =
      SetFilePointer(hFile, static_cast<LONG>(liDistanceToMove.LowPart), &high, dwMoveMethod);
  if (lpNewFilePointer) {
    lpNewFilePointer->LowPart = low;
    lpNewFilePointer->HighPart = high;
  }
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}
