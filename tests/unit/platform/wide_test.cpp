#include <win32/windows.h>

#include <cstdio>
#include <cwchar>

#include <fake_backend.h>
#include <gtest/gtest.h>

using namespace win32;

namespace {

std::u16string Format(const WCHAR* format, int value) {
  WCHAR buffer[64];
  swprintf(buffer, 64, format, value);
  return buffer;
}

TEST(WideFormat, FormsTheLibrarysNames) {
  EXPECT_EQ(Format(WTEXT("\\\\.\\%c:"), 'C'), u"\\\\.\\C:");
  EXPECT_EQ(Format(WTEXT("%c:\\"), 'c'), u"c:\\");
  EXPECT_EQ(Format(WTEXT("\\\\.\\PHYSICALDRIVE%d"), -1), u"\\\\.\\PHYSICALDRIVE-1");
  EXPECT_EQ(Format(WTEXT("error(%d)!\r\n"), -2147024891), u"error(-2147024891)!\r\n");
}

TEST(WideFormat, HandlesWidthsStringsAndUnsignedConversions) {
  WCHAR buffer[64];
  swprintf(buffer, 64, WTEXT("[%5d|%-3d|%04x|%s|%u|%%]"), 42, 7, 0xBEEFu, WTEXT("ab"), 4000000000u);
  EXPECT_EQ(std::u16string(buffer), u"[   42|7  |beef|ab|4000000000|%]");
}

TEST(WideFormat, CutsAndTerminatesWhatDoesNotFit) {
  WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(swprintf(buffer, 4, WTEXT("%d"), 123456), -1);
  EXPECT_EQ(std::u16string(buffer), u"123");
}

TEST(WideCompare, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(_wcsicmp(u"ntfs", u"NTFS"), 0);
  EXPECT_NE(_wcsicmp(u"NTFS", u"NTFS5"), 0);
  EXPECT_NE(_wcsicmp(u"\u00e9", u"\u00c9"), 0);
  EXPECT_NE(_wcsicmp(u"", u"FAT"), 0);
}

TEST(WidePrint, WritesUtf8LinesThroughTheBackend) {
  win32::testing::FakeBackend fake;
  ScopedBackend use(fake);
  wprintf(WTEXT("GetDiskNumber error(%d) \u00e9\r\n"), 5);
  ASSERT_EQ(fake.output.size(), 1u);
  EXPECT_EQ(fake.output[0], "GetDiskNumber error(5) \xc3\xa9\r\n");
}

TEST(WidePrint, LeavesStdoutByteOriented) {
  wprintf(WTEXT("Before GetPartitionInfoEx\r\n"));
  EXPECT_LE(fwide(stdout, 0), 0);
  EXPECT_GT(std::printf("narrow text after wide diagnostics\n"), 0);
}

}  // namespace
