#include <win32/windows.h>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace win32;
using kestro::testing::ScopedEnv;

namespace {

OSVERSIONINFOW Query() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_TRUE(GetVersionExW(&info));
  return info;
}

TEST(Version, ReportsTheNtFamilyByDefault) {
  ScopedEnv unset("KESTRO_WINDOWS_VERSION", std::nullopt);
  const OSVERSIONINFOW info = Query();
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwBuildNumber, 19045u);
  EXPECT_EQ(info.szCSDVersion[0], 0);
}

TEST(Version, ReportsLegacyReleasesWithTheirServiceText) {
  ScopedEnv se("KESTRO_WINDOWS_VERSION", "4.10.2222 A");
  OSVERSIONINFOW info = Query();
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(info.dwMinorVersion, 10u);
  EXPECT_EQ(info.dwBuildNumber & 0xFFFF, 2222u);
  EXPECT_EQ(std::u16string(info.szCSDVersion), u" A");

  ScopedEnv first("KESTRO_WINDOWS_VERSION", "4.0.950");
  info = Query();
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.szCSDVersion[0], 0);
  EXPECT_EQ(info.szCSDVersion[1], 0);
}

TEST(Version, TreatsOtherReleasesAsNt) {
  ScopedEnv xp("KESTRO_WINDOWS_VERSION", "5.1.2600 Service Pack 3");
  const OSVERSIONINFOW info = Query();
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(std::u16string(info.szCSDVersion), u" Service Pack 3");
}

TEST(Version, RefusesARecordOfTheWrongSize) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = 12;
  EXPECT_FALSE(GetVersionExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
