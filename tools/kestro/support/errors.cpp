#include "support/errors.h"
#include "support/printable.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <win32/errors.h>

namespace kestro::cli {

using namespace win32;

std::string DescribeError(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "no error reported";
    case ERROR_FILE_NOT_FOUND:
      return "not found";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return "not mapped";
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
      return "permission denied";
    case ERROR_WRITE_PROTECT:
      return "write-protected";
    case ERROR_BUSY:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "busy";
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
      return "not ready";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_WORKING_SET_QUOTA:
      return "out of memory";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return "input/output error";
    case ERROR_SECTOR_NOT_FOUND:
      return "sector not found";
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
      return "seek failed";
    case ERROR_HANDLE_EOF:
      return "unexpected end of data";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "no space left";
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return "not supported";
    case ERROR_UNRECOGNIZED_VOLUME:
      return "unrecognised file system";
    case ERROR_INVALID_HANDLE:
      return "not open";
    case ERROR_INVALID_PARAMETER:
      return "invalid request";
    case ERROR_INVALID_NAME:
      return "invalid name";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "too many open files";
    case ERROR_NOT_LOCKED:
      return "not locked";
    default:
      return "error " + std::to_string(code);
  }
}

std::string DescribeErrno(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace kestro::cli

namespace kestro::cli {

void Warn(const std::string& subject, const std::string& text) {
  std::fprintf(stderr, "kestro: %s\n", Printable(Failure::Join(subject, text)).c_str());
}

}  // namespace kestro::cli
