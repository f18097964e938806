// The drive map: environment, drives file and the host's own mappings, and disk numbering.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

class DriveMap : public MappedDriveTest {
 protected:
  using MappedDriveTest::Image;
  std::string Image(const std::string& name) { return Image(name, 65536); }

  static uint64_t SizeOf(const WCHAR* name) {
    HANDLE h = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    CloseHandle(h);
    return static_cast<uint64_t>(size.QuadPart);
  }
};

TEST_F(DriveMap, AnUnmappedLetterOpensNothing) {
  ScopedEnv unset("KESTRO_DRIVE_R", std::nullopt);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\R:")), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DriveMap, EnvironmentVariablesMapLettersAndPartitions) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Image("disk.img", 4 << 20);
  PartitionImage(disk, "label: gpt\nstart=2048, size=2048\nstart=4096, size=1024\n");
  ScopedEnv letter("KESTRO_DRIVE_G", disk);
  ScopedEnv partition("KESTRO_DRIVE_G_PARTITION", "2");
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\G:")), 1024u * 512);
  ScopedEnv missing("KESTRO_DRIVE_G_PARTITION", "7");
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\G:")), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DriveMap, TheEnvironmentWinsOverTheFileAndTheHostOverBoth) {
  const std::string fromFile = Image("file.img", 1 * 512);
  const std::string fromEnv = Image("env.img", 2 * 512);
  const std::string fromHost = Image("host.img", 3 * 512);
  const std::string list = dir.File("drives");
  std::ofstream(list) << "# drives for the test\nH=" << fromFile << "\nJ=" << fromFile << "\n";
  ScopedEnv file("KESTRO_DRIVES_FILE", list);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\J:")), 512u);
  ScopedEnv env("KESTRO_DRIVE_J", fromEnv);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\J:")), 1024u);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\H:")), 512u);
  ASSERT_TRUE(kestro::MapDrive('j', fromHost));
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\J:")), 1536u);
  kestro::UnmapDrive('J');
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\J:")), 1024u);
}

TEST_F(DriveMap, DisksAreNumberedInLetterOrderAroundExplicitNumbers) {
  const std::string a = Image("a.img", 1 * 512), b = Image("b.img", 2 * 512);
  const std::string c = Image("c.img", 3 * 512);
  ASSERT_TRUE(kestro::MapDrive('K', b));
  ASSERT_TRUE(kestro::MapDrive('L', a));
  ASSERT_TRUE(kestro::MapDrive('M', b));  // a second volume of disk b: same number
  ASSERT_TRUE(kestro::MapPhysicalDrive(0, c));
  ScopedEnv explicitly("KESTRO_PHYSICALDRIVE5", a);
  // c is disk 0 by mapping and a disk 5; b, the first letter's disk, takes the lowest free: 1.
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\PHYSICALDRIVE0")), 1536u);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\PHYSICALDRIVE1")), 1024u);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\PHYSICALDRIVE5")), 512u);
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\PHYSICALDRIVE2")), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A table written for a 64 MiB disk, on an image cut to 24 MiB: partition 1 (1 to 9 MiB) fits,
// partition 2 (16 to 32 MiB) runs past the end, partition 3 (40 to 48 MiB) starts past it.
class TruncatedDisk : public DriveMap {
 protected:
  void SetUp() override {
    if (!HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
    disk = Image("disk.img", 64 << 20);
    PartitionImage(disk,
                   "label: dos\nstart=2048, size=16384\nstart=32768, size=32768\n"
                   "start=81920, size=16384\n");
    ASSERT_EQ(truncate(disk.c_str(), kDiskBytes), 0);
    ASSERT_TRUE(kestro::MapDrive('T', disk, 2));
    ASSERT_TRUE(kestro::MapDrive('U', disk, 3));
    ASSERT_TRUE(kestro::MapDrive('V', disk, 1));
  }

  static void MoveTo(HANDLE h, uint64_t offset) {
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
  }

  static constexpr uint64_t kDiskBytes = 24 << 20;
  std::string disk;
};

TEST_F(TruncatedDisk, PartitionsAreBoundedByTheDiskAndWritesNeverGrowIt) {
  EXPECT_EQ(SizeOf(WTEXT("\\\\.\\U:")), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HANDLE h = Open(WTEXT("\\\\.\\T:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  GET_LENGTH_INFORMATION length{};
  PARTITION_INFORMATION_EX partition{};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                              &returned, nullptr));
  EXPECT_EQ(length.Length.QuadPart, 8 << 20);
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition,
                              sizeof partition, &returned, nullptr));
  EXPECT_EQ(partition.PartitionNumber, 2u);
  EXPECT_EQ(partition.PartitionLength.QuadPart, 8 << 20);

  // The last sector reads; at the end a read and a write move nothing, as on any volume.
  std::vector<uint8_t> sector(512, 0xA5);
  DWORD done = 1;
  MoveTo(h, (8 << 20) - 512);
  EXPECT_TRUE(ReadFile(h, sector.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 512u);
  EXPECT_TRUE(WriteFile(h, sector.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(std::filesystem::file_size(disk), kDiskBytes);
}

TEST_F(TruncatedDisk, TransfersThatReachTheDevicesEndFailWithTheEndErrors) {
  HANDLE volume = Open(WTEXT("\\\\.\\V:"));
  HANDLE whole = Open(WTEXT("\\\\.\\PHYSICALDRIVE0"));
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  ASSERT_NE(whole, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(4096);
  DWORD done = 0;
  MoveTo(whole, kDiskBytes - 2048);
  EXPECT_FALSE(ReadFile(whole, buffer.data(), 4096, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  EXPECT_FALSE(WriteFile(whole, buffer.data(), 4096, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  EXPECT_EQ(std::filesystem::file_size(disk), kDiskBytes);

  // The image shrinks under open handles: now the device ends before their lengths do.
  ASSERT_EQ(truncate(disk.c_str(), 5 << 20), 0);
  MoveTo(volume, 6 << 20);
  EXPECT_FALSE(ReadFile(volume, buffer.data(), 4096, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  MoveTo(whole, 6 << 20);
  EXPECT_FALSE(ReadFile(whole, buffer.data(), 4096, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  EXPECT_TRUE(CloseHandle(volume));
  EXPECT_TRUE(CloseHandle(whole));
}

}  // namespace
