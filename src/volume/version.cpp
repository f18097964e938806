#include "volume/version.h"

#include <Kestro32.h>

#include <cstring>
#include <mutex>

using namespace win32;

OSVERSIONINFOW g_osvi;

namespace kestro {
namespace {

std::mutex& VersionMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

void FillVersionRecordOnce() {
  bool filled = false;
  {
    std::lock_guard<std::mutex> lock(VersionMutex());
    filled = g_osvi.dwOSVersionInfoSize != 0;
  }
  if (!filled) RefillVersionRecord();
}

}  // namespace

// Objects opened on several threads at once all refill the record, which is read without a
// lock: it is written only when the release reported has changed.
void RefillVersionRecord() {
  OSVERSIONINFOW current;
  {
    std::lock_guard<std::mutex> lock(VersionMutex());
    current = g_osvi;
  }
  current.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  GetVersionExW(&current);
  std::lock_guard<std::mutex> lock(VersionMutex());
  if (std::memcmp(&current, &g_osvi, sizeof current) != 0) g_osvi = current;
}

}  // namespace kestro

int CKestro32::Is9XOSVersion() {
  kestro::FillVersionRecordOnce();
  if (g_osvi.dwOSVersionInfoSize == 0) return 0;
  const DWORD minor = g_osvi.dwMinorVersion;
  return g_osvi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
         (minor == 0 || minor == 10 || minor == 90);
}

int CKestro32::VersionIsW95_40950() {
  kestro::FillVersionRecordOnce();
  if (g_osvi.dwOSVersionInfoSize == 0) return 0;
  if (g_osvi.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS || g_osvi.dwMinorVersion != 0) return 0;
  // 4.00.950 has no service text; 4.00.950A reports " A".
  const WCHAR first = g_osvi.szCSDVersion[0];
  const WCHAR second = g_osvi.szCSDVersion[1];
  return (first == 0 && second == 0) || (first == 0x20 && second == 0x41);
}
