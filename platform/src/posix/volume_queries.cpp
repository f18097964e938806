#include "volume_queries.h"

#include <win32/errors.h>

#include "device_name.h"
#include "drive_map.h"
#include "errno_map.h"

namespace win32::posix {

BOOL QueryVolumeInformation(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD) {
  DWORD error = ERROR_SUCCESS;
  const char letter = ParseRootPath(root);
  if (letter == 0 || !ResolveVolume(letter, &error)) return Fail(ERROR_PATH_NOT_FOUND);
  return Fail(ERROR_UNRECOGNIZED_VOLUME);
}

BOOL QueryFreeSpace(LPCWSTR root, uint64_t*, uint64_t*, uint32_t*) {
  DWORD error = ERROR_SUCCESS;
  const char letter = ParseRootPath(root);
  if (letter == 0 || !ResolveVolume(letter, &error)) return Fail(ERROR_PATH_NOT_FOUND);
  return Fail(ERROR_NOT_SUPPORTED);
}

}  // namespace win32::posix
