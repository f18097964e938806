// The last error code, kept per thread as on Windows.
#include <win32/errors.h>
#include <win32/kernel32.h>

namespace win32 {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

DWORD WINAPI GetLastError() {
  return t_lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  t_lastError = dwErrCode;
}

}  // namespace win32
