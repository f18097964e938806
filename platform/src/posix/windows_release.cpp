#include "windows_release.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <win32/errors.h>
#include <win32/utf.h>

#include "errno_map.h"

namespace kestro::posix {
namespace {

constexpr DWORD kOsVersionInfoExSize = 284;
constexpr DWORD kFirstFat32Build = 1111;

bool IsLegacyRelease(unsigned major, unsigned minor) {
  return major == 4 && (minor == 0 || minor == 10 || minor == 90);
}

void SetCsdText(LPOSVERSIONINFOW info, const char* text) {
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  const std::u16string wide = FromUtf8(text);
  wide.copy(info->szCSDVersion, std::min<size_t>(wide.size(), 127));
}

// "major.minor.build[ service text]": the text after the numbers, with its leading blank, is
// the service text, as the legacy family reports it (" A" for 95 OSR1 and 98 SE).
bool ParseVersion(const char* text, LPOSVERSIONINFOW info) {
  unsigned major = 0, minor = 0, build = 0;
  int consumed = 0;
  if (std::sscanf(text, "%u.%u.%u%n", &major, &minor, &build, &consumed) != 3) return false;
  info->dwMajorVersion = major;
  info->dwMinorVersion = minor;
  if (IsLegacyRelease(major, minor)) {
    // The legacy family keeps the version in the high word of the build number.
    info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    info->dwBuildNumber = (major << 24) | (minor << 16) | (build & 0xFFFF);
  } else {
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->dwBuildNumber = build;
  }
  SetCsdText(info, text + consumed);
  return true;
}

}  // namespace

BOOL FillVersion(LPOSVERSIONINFOW info) {
  if (info == nullptr) return Fail(ERROR_NOACCESS);
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
      info->dwOSVersionInfoSize != kOsVersionInfoExSize) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  const char* configured = std::getenv("KESTRO_WINDOWS_VERSION");
  if (configured == nullptr || !ParseVersion(configured, info)) {
    info->dwMajorVersion = 10;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 19045;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    SetCsdText(info, "");
  }
  return TRUE;
}

bool ReleaseHasFat32Calls() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  FillVersion(&info);
  const bool first95 = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
                       info.dwMinorVersion == 0 && (info.dwBuildNumber & 0xFFFF) < kFirstFat32Build;
  return !first95;
}

}  // namespace kestro::posix
