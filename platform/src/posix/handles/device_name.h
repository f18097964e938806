// The names CreateFileW and the volume queries accept, told apart.
#pragma once

#include <string>

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

enum class NameKind {
  kVolume,         // \\.\X:
  kPhysicalDrive,  // \\.\PHYSICALDRIVEn
  kLegacyDevice,   // \\.\VWIN32
  kDeviceObject,   // \\?\GLOBALROOT\Device\...
  kPosixPath,      // an absolute POSIX path
  kInvalid,
};

struct DeviceName {
  NameKind kind = NameKind::kInvalid;
  char letter = 0;     // kVolume, upper case
  int number = -1;     // kPhysicalDrive
  std::string detail;  // kDeviceObject: the object name; kPosixPath: the path (UTF-8)
};

// Device names are case-insensitive, as on Windows.
DeviceName ParseDeviceName(LPCWSTR name);

// The drive letter of a root path ("C:\" or "C:"), upper case, or 0.
char ParseRootPath(LPCWSTR root);

}  // namespace kestro::posix
