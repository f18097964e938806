#include "legacy_device.h"

#include <win32/errors.h>

#include "errno_map.h"

namespace win32::posix {

std::shared_ptr<OpenObject> OpenLegacyDevice() {
  Fail(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

BOOL ControlLegacyDevice(OpenObject&, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD) {
  return Fail(ERROR_INVALID_FUNCTION);
}

}  // namespace win32::posix
