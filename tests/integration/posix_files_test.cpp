// The POSIX backend over real image files: volume windows, Windows' transfer rules and ends.
#include <win32/drive_map.h>
#include <win32/utf.h>
#include <win32/windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>
#include <open_shared.h>

using namespace win32;
using namespace kestro::testing;

namespace {

using PosixFiles = MappedDriveTest;

TEST_F(PosixFiles, AVolumeImageReadsAndWritesAtThePointer) {
  const std::string image = Image("volume.img", 1 * kMiB);
  WriteBytes(image, 4096, Pattern(4096, 1024, 1));
  ASSERT_TRUE(kestro::MapDrive('C', image));

  HANDLE h = Open(WTEXT("\\\\.\\c:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(1024);
  DWORD done = 0;
  ASSERT_TRUE(Seek(h, 4096));
  ASSERT_TRUE(ReadFile(h, buffer.data(), 1024, &done, nullptr));
  EXPECT_EQ(done, 1024u);
  EXPECT_EQ(buffer, Pattern(4096, 1024, 1));

  const auto written = Pattern(0, 512, 9);
  ASSERT_TRUE(Seek(h, -512, FILE_END));
  ASSERT_TRUE(WriteFile(h, written.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 512u);
  EXPECT_EQ(ReadBytes(image, kMiB - 512, 512), written);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PosixFiles, VolumeTransfersStopAtTheEnd) {
  const std::string image = Image("volume.img", 64 * 1024);
  ASSERT_TRUE(kestro::MapDrive('D', image));
  HANDLE h = Open(WTEXT("\\\\.\\D:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(4096, 0xAA);
  DWORD done = 99;
  ASSERT_TRUE(Seek(h, 64 * 1024 - 1024));
  ASSERT_TRUE(ReadFile(h, buffer.data(), 4096, &done, nullptr));
  EXPECT_EQ(done, 1024u);
  ASSERT_TRUE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 0u);
  ASSERT_TRUE(Seek(h, 128 * 1024));
  ASSERT_TRUE(WriteFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(std::filesystem::file_size(image), 64u * 1024);
  CloseHandle(h);
}

TEST_F(PosixFiles, VolumeTransfersMustCoverWholeSectors) {
  const std::string image = Image("volume.img", 64 * 1024);
  ASSERT_TRUE(kestro::MapDrive('D', image));
  HANDLE h = Open(WTEXT("\\\\.\\D:"));
  std::vector<uint8_t> buffer(1024);
  DWORD done = 0;
  EXPECT_FALSE(ReadFile(h, buffer.data(), 100, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(Seek(h, 100));
  EXPECT_FALSE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(h);
}

TEST_F(PosixFiles, UnbufferedHandlesNeedAlignedBuffers) {
  const std::string image = Image("volume.img", 64 * 1024);
  ASSERT_TRUE(kestro::MapDrive('D', image));
  HANDLE h = Open(WTEXT("\\\\.\\D:"), FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  auto* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  DWORD done = 0;
  EXPECT_TRUE(ReadFile(h, pages, 4096, &done, nullptr));
  EXPECT_FALSE(ReadFile(h, pages + 1, 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  VirtualFree(pages, 0, MEM_RELEASE);
  CloseHandle(h);
}

TEST_F(PosixFiles, APartitionIsAWindowOfItsDiskImage) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Image("disk.img", 8 * kMiB);
  PartitionImage(disk, "label: dos\nstart=2048, size=4096, type=83\nstart=6144, type=7\n");
  const uint64_t start = 2048 * 512, length = 4096 * 512;
  WriteBytes(disk, start - 512, std::vector<uint8_t>(512, 0x11));
  WriteBytes(disk, start + length, std::vector<uint8_t>(512, 0x22));
  ASSERT_TRUE(kestro::MapDrive('E', disk, 1));

  HANDLE h = Open(WTEXT("\\\\.\\E:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(static_cast<uint64_t>(size.QuadPart), length);

  // Whole-window writes land inside the partition and nowhere else.
  const auto first = Pattern(0, 512, 3), last = Pattern(length - 512, 512, 3);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, first.data(), 512, &done, nullptr));
  ASSERT_TRUE(Seek(h, -512, FILE_END));
  ASSERT_TRUE(WriteFile(h, last.data(), 512, &done, nullptr));
  std::vector<uint8_t> beyond(1024);
  ASSERT_TRUE(WriteFile(h, beyond.data(), 1024, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(ReadBytes(disk, start, 512), first);
  EXPECT_EQ(ReadBytes(disk, start + length - 512, 512), last);
  EXPECT_EQ(ReadBytes(disk, start - 512, 512), std::vector<uint8_t>(512, 0x11));
  EXPECT_EQ(ReadBytes(disk, start + length, 512), std::vector<uint8_t>(512, 0x22));
  CloseHandle(h);
}

TEST_F(PosixFiles, DiskHandlesFailPastTheEnd) {
  const std::string disk = Image("disk.img", 64 * 1024);
  ASSERT_TRUE(kestro::MapPhysicalDrive(3, disk));
  HANDLE h = Open(WTEXT("\\\\.\\PhysicalDrive3"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(1024);
  DWORD done = 0;
  ASSERT_TRUE(Seek(h, 64 * 1024 - 512));
  EXPECT_FALSE(ReadFile(h, buffer.data(), 1024, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  EXPECT_TRUE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  CloseHandle(h);
}

TEST_F(PosixFiles, HandlesAreCheckedNotTrusted) {
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x12345678)));
  BYTE byte = 0;
  DWORD done = 0;
  EXPECT_FALSE(ReadFile(nullptr, &byte, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Open(WTEXT("\\\\.\\Q:")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A closed handle stays invalid after a new handle takes its place, and threads still using a
// handle while it closes see it either open or invalid, never a closed descriptor.
TEST_F(PosixFiles, ClosedHandlesStayClosedWhateverOpensAfterThem) {
  const std::string path = Image("plain.bin", 4096);
  const std::u16string name = kestro::FromUtf8(path);
  HANDLE first = Open(name.c_str());
  ASSERT_TRUE(CloseHandle(first));
  HANDLE second = Open(name.c_str());
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(second, first);
  EXPECT_FALSE(Seek(first, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(first));

  std::atomic<int> uses{0};
  std::vector<std::thread> users;
  users.reserve(4);
  for (int i = 0; i < 4; ++i) {
    users.emplace_back([&] {
      BYTE byte = 0;
      DWORD done = 0;
      while (Seek(second, 1) && ReadFile(second, &byte, 1, &done, nullptr)) ++uses;
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    });
  }
  while (uses.load() < 100) std::this_thread::yield();
  EXPECT_TRUE(CloseHandle(second));
  for (std::thread& user : users) user.join();
  EXPECT_FALSE(CloseHandle(second));
}

TEST_F(PosixFiles, FilePointersFollowWindowsRules) {
  const std::string path = Image("plain.bin", 100);
  const std::u16string name = kestro::FromUtf8(path);
  HANDLE h = Open(name.c_str());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER at;
  EXPECT_FALSE(Seek(h, -1));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  ASSERT_TRUE(Seek(h, 10));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(h, zero, &at, FILE_END));
  EXPECT_EQ(at.QuadPart, 100);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x200, &high, FILE_BEGIN), 0x200u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(h);
}

}  // namespace
