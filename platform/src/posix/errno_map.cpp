#include "errno_map.h"

#include <cerrno>

#include <win32/errors.h>
#include <win32/kernel32.h>

namespace kestro::posix {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EBUSY:
      return ERROR_BUSY;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EIO:
      return ERROR_IO_DEVICE;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return ERROR_NOT_READY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EOPNOTSUPP:
    case ENOTTY:
      return ERROR_NOT_SUPPORTED;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

BOOL FailFromErrno() {
  return Fail(Win32ErrorFromErrno(errno));
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace kestro::posix
