// Volume locks and the protection of mounted volumes: FSCTL_LOCK_VOLUME is exclusive across the
// process and dies with its handle; a mounted volume can be neither locked nor written outside
// its boot sector.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <filesystem>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>
#include <open_shared.h>

using namespace win32;
using namespace kestro::testing;

namespace {

class VolumeSafety : public MappedDriveTest {
 protected:
  std::string NtfsImage() {
    const std::string image = dir.File("ntfs.img");
    MakeNtfs(image, 16 * kMiB);
    return image;
  }
};

TEST_F(VolumeSafety, ALockIsExclusiveAndDiesWithItsHandle) {
  const std::string image = Image("volume.img", kMiB);
  ASSERT_TRUE(kestro::MapDrive('C', image));
  ASSERT_TRUE(kestro::MapDrive('D', image));  // the same bytes under a second letter
  HANDLE first = Open(WTEXT("\\\\.\\C:"));
  HANDLE second = Open(WTEXT("\\\\.\\D:"));

  EXPECT_EQ(Control(first, FSCTL_UNLOCK_VOLUME), ERROR_NOT_LOCKED);
  EXPECT_EQ(Control(first, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(Control(first, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Control(second, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Control(second, FSCTL_UNLOCK_VOLUME), ERROR_NOT_LOCKED);
  EXPECT_EQ(Control(first, FSCTL_UNLOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(Control(first, FSCTL_UNLOCK_VOLUME), ERROR_NOT_LOCKED);

  EXPECT_EQ(Control(first, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(WriteAt(first, 4096), ERROR_SUCCESS);  // the holder writes as it pleases
  ASSERT_TRUE(CloseHandle(first));
  EXPECT_EQ(Control(second, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  CloseHandle(second);
}

TEST_F(VolumeSafety, PartitionsOfOneDiskLockIndependently) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Image("disk.img", 8 * kMiB);
  PartitionImage(disk, "label: dos\nstart=2048, size=4096, type=7\nstart=6144, type=7\n");
  ASSERT_TRUE(kestro::MapDrive('E', disk, 1));
  ASSERT_TRUE(kestro::MapDrive('F', disk, 2));
  HANDLE e = Open(WTEXT("\\\\.\\E:"));
  HANDLE f = Open(WTEXT("\\\\.\\F:"));
  EXPECT_EQ(Control(e, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(Control(f, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  CloseHandle(e);
  CloseHandle(f);
}

TEST_F(VolumeSafety, AMountedVolumeRefusesLocksAndWritesBeyondItsBootSector) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  const std::string image = NtfsImage();
  ASSERT_TRUE(kestro::MapDrive('N', image));
  HANDLE h = Open(WTEXT("\\\\.\\N:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> bootSector = ReadBytes(image, 0, 512);
  EXPECT_EQ(WriteAt(h, 8192), ERROR_SUCCESS);  // not mounted yet

  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  std::string whyNot;
  {
    auto mount = NtfsMount::Mount(image, mountPoint, &whyNot);
    if (!mount) GTEST_SKIP() << whyNot;
    EXPECT_EQ(Control(h, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteAt(h, 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteAt(h, 512), ERROR_ACCESS_DENIED);
    // The boot sector stays writable, as on Windows; put it back as it was.
    LARGE_INTEGER start{};
    ASSERT_TRUE(SetFilePointerEx(h, start, nullptr, FILE_BEGIN));
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(h, bootSector.data(), 512, &done, nullptr)) << GetLastError();
    EXPECT_EQ(done, 512u);
    // Reading is never refused.
    std::vector<uint8_t> buffer(4096);
    EXPECT_TRUE(ReadFile(h, buffer.data(), 4096, &done, nullptr));
  }
  EXPECT_EQ(WriteAt(h, 8192), ERROR_SUCCESS);
  EXPECT_EQ(Control(h, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  CloseHandle(h);
}

// The kernel knows the mount by the loop partition device; the volume is mapped by the image.
TEST_F(VolumeSafety, AMountThroughALoopPartitionProtectsThePartitionOfTheImage) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Image("disk.img", 24 * kMiB);
  PartitionImage(disk, "label: gpt\nstart=2048, size=32768\n");
  PlaceVolume(disk, 2048 * 512, NtfsImage());
  std::string whyNot;
  auto loop = LoopDevice::Attach(disk, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  ASSERT_TRUE(kestro::MapDrive('P', disk, 1));
  ASSERT_TRUE(kestro::MapDrive('Q', loop->Partition(1)));
  HANDLE byImage = Open(WTEXT("\\\\.\\P:"));
  HANDLE byDevice = Open(WTEXT("\\\\.\\Q:"));
  EXPECT_EQ(Control(byDevice, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(Control(byImage, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);  // the same bytes
  EXPECT_EQ(Control(byDevice, FSCTL_UNLOCK_VOLUME), ERROR_SUCCESS);
  {
    auto mount = NtfsMount::Mount(loop->Partition(1), mountPoint, &whyNot);
    if (!mount) GTEST_SKIP() << whyNot;
    EXPECT_EQ(WriteAt(byImage, 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteAt(byDevice, 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Control(byImage, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(WriteAt(byImage, 8192), ERROR_SUCCESS);
  CloseHandle(byImage);
  CloseHandle(byDevice);
}

}  // namespace
