// The drive map: environment, drives file and the host's own mappings, and disk numbering.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <fstream>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

class DriveMap : public ::testing::Test {
 protected:
  void TearDown() override { kestro::ClearMappedDrives(); }

  std::string Image(const std::string& name, uint64_t size = 65536) {
    const std::string path = dir.File(name);
    CreateSparseFile(path, size);
    return path;
  }

  static uint64_t SizeOf(const WCHAR* name) {
    HANDLE h = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    CloseHandle(h);
    return static_cast<uint64_t>(size.QuadPart);
  }

  TempDir dir;
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

}  // namespace
