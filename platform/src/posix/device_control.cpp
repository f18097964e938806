#include "device_control.h"

#include <win32/errors.h>

#include "errno_map.h"

namespace win32::posix {

BOOL ControlDevice(OpenObject&, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD returned) {
  if (returned) *returned = 0;
  return Fail(ERROR_INVALID_FUNCTION);
}

}  // namespace win32::posix
