// Platform-family detection over scripted version records.
#include <Kestro32.h>

#include <algorithm>

#include <fake_world.h>

using namespace win32;

namespace {

class VersionQuery : public kestro::testing::FakeWorld {
 protected:
  // Constructs an object, which refills the process-wide record from the fake.
  void Release(DWORD platform, DWORD minor, const std::u16string& csd = u"", WCHAR second = 0) {
    fake.version.dwPlatformId = platform;
    fake.version.dwMajorVersion = 4;
    fake.version.dwMinorVersion = minor;
    std::fill(std::begin(fake.version.szCSDVersion), std::end(fake.version.szCSDVersion), 0);
    std::copy(csd.begin(), csd.end(), fake.version.szCSDVersion);
    if (csd.empty()) fake.version.szCSDVersion[1] = second;
    CKestro32 refill;
  }

  CKestro32 volume;
};

TEST_F(VersionQuery, LegacyFamilyIsPlatformOneWithMinor0_10Or90) {
  for (DWORD minor : {0u, 10u, 90u}) {
    Release(VER_PLATFORM_WIN32_WINDOWS, minor);
    EXPECT_EQ(volume.Is9XOSVersion(), 1) << minor;
  }
  Release(VER_PLATFORM_WIN32_WINDOWS, 3);
  EXPECT_EQ(volume.Is9XOSVersion(), 0);
  Release(VER_PLATFORM_WIN32_NT, 0);
  EXPECT_EQ(volume.Is9XOSVersion(), 0);
}

TEST_F(VersionQuery, TheFirst95ReleasesHaveNoServiceTextOrBlankA) {
  Release(VER_PLATFORM_WIN32_WINDOWS, 0);
  EXPECT_EQ(volume.VersionIsW95_40950(), 1);
  Release(VER_PLATFORM_WIN32_WINDOWS, 0, u" A");
  EXPECT_EQ(volume.VersionIsW95_40950(), 1);
  Release(VER_PLATFORM_WIN32_WINDOWS, 0, u" A and more");
  EXPECT_EQ(volume.VersionIsW95_40950(), 1);
  for (const char16_t* other : {u" B", u" C", u" a", u"A"}) {
    Release(VER_PLATFORM_WIN32_WINDOWS, 0, other);
    EXPECT_EQ(volume.VersionIsW95_40950(), 0);
  }
  Release(VER_PLATFORM_WIN32_WINDOWS, 0, u"", u'x');
  EXPECT_EQ(volume.VersionIsW95_40950(), 0);
  Release(VER_PLATFORM_WIN32_WINDOWS, 10);
  EXPECT_EQ(volume.VersionIsW95_40950(), 0);
  Release(VER_PLATFORM_WIN32_NT, 0);
  EXPECT_EQ(volume.VersionIsW95_40950(), 0);
}

TEST_F(VersionQuery, QueriesUseTheFilledRecordAndConstructorsRefillIt) {
  fake.ClearCalls();
  volume.Is9XOSVersion();
  volume.VersionIsW95_40950();
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetVersionExW), 0u);
  CKestro32 another;
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetVersionExW), 1u);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetVersionExW)[0]->args[0], sizeof(OSVERSIONINFOW));
}

TEST_F(VersionQuery, CopiesKeepTheFamilyOfTheirSource) {
  Release(VER_PLATFORM_WIN32_WINDOWS, 10);
  CKestro32 legacy;
  Release(VER_PLATFORM_WIN32_NT, 0);
  CKestro32 copy(legacy);
  EXPECT_EQ(copy.m_bWin9x, 1);
  fake.ClearCalls();
  CKestro32 assigned;
  assigned = legacy;
  EXPECT_EQ(assigned.m_bWin9x, 1);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetVersionExW), 1u);
}

}  // namespace
