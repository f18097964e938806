// The bytes of a mounted file system are never written, whichever name reaches them: its partition
// device, the whole disk, another device overlapping it, or the image file behind the loop device.
// Volume locks hold the kernel's own exclusion, so they exclude other processes; read-only media
// open read-only and refuse writes with the reason.
#include <Kestro32.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <win32/drive_map.h>
#include <win32/utf.h>
#include <win32/windows.h>

#include <filesystem>
#include <functional>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>
#include <open_shared.h>

using namespace win32;
using namespace kestro::testing;

namespace {

// The disk: partition 1 (8 MiB at 1 MiB) holds the file system, partition 2 starts at 10 MiB.
constexpr uint64_t kFirst = 1 * kMiB;
constexpr uint64_t kFirstLength = 8 * kMiB;
constexpr uint64_t kSecond = 10 * kMiB;

// Runs `child` in a forked process and returns what it returned, or -1 when it did not exit.
int InChild(const std::function<int()>& child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MountedStorage : public MappedDriveTest {
 protected:
  // A partitioned disk image with `volume` in partition 1.
  std::string DiskHolding(const std::string& volume) {
    const std::string disk = Image("disk.img", 24 * kMiB);
    PartitionImage(disk, "label: dos\nstart=2048, size=16384, type=83\nstart=20480, type=83\n");
    PlaceVolume(disk, kFirst, volume);
    return disk;
  }

  // The disk holding `volume` in partition 1, attached to a loop device, and an empty mount point.
  std::optional<LoopDevice> AttachDiskHolding(const std::string& volume, std::string* disk,
                                              std::string* mountPoint, std::string* whyNot) {
    *disk = DiskHolding(volume);
    *mountPoint = dir.File("mnt");
    std::filesystem::create_directory(*mountPoint);
    return LoopDevice::Attach(*disk, whyNot);
  }

  // Partition 1 is mounted: every name of its bytes refuses writes and locks, while the bytes
  // around it stay writable and lockable.
  void ExpectOnlyPartitionOneProtected(const LoopDevice& loop, const std::string& disk) {
    std::string whyNot;
    // A second loop device over the image, from the middle of partition 1 into partition 2.
    const auto overlapping = LoopDevice::Attach(disk, &whyNot, "-o 5MiB --sizelimit 8MiB");
    ASSERT_TRUE(overlapping) << whyNot;
    const std::vector<uint8_t> before = ReadBytes(disk, kFirst, kFirstLength);

    EXPECT_EQ(WriteThrough(loop.Partition(1), 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteThrough(loop.device(), kFirst + 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteThrough(overlapping->device(), 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteThrough(disk, kFirst + 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteThrough(disk, kFirst + kFirstLength - 512), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(kestro::MapDrive('P', disk, 1));
    ASSERT_TRUE(kestro::MapDrive('Q', disk, 2));
    HANDLE first = OpenShared(WTEXT("\\\\.\\P:"));
    HANDLE second = OpenShared(WTEXT("\\\\.\\Q:"));
    EXPECT_EQ(WriteAt(first, 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadAt(first, 8192), ERROR_SUCCESS);  // reading is never refused
    EXPECT_EQ(ReadBytes(disk, kFirst, kFirstLength), before);

    EXPECT_EQ(WriteThrough(loop.device(), 0), ERROR_SUCCESS);
    EXPECT_EQ(WriteThrough(loop.device(), kSecond), ERROR_SUCCESS);
    EXPECT_EQ(WriteThrough(loop.Partition(2), 4096), ERROR_SUCCESS);
    EXPECT_EQ(WriteThrough(overlapping->device(), 6 * kMiB), ERROR_SUCCESS);
    EXPECT_EQ(WriteThrough(disk, kFirst + kFirstLength), ERROR_SUCCESS);
    EXPECT_EQ(WriteAt(second, 8192), ERROR_SUCCESS);

    HANDLE whole = OpenPath(loop.device());
    HANDLE partition2 = OpenPath(loop.Partition(2));
    EXPECT_EQ(Control(first, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Control(whole, FSCTL_LOCK_VOLUME), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Control(partition2, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
    for (HANDLE h : {first, second, whole, partition2}) CloseHandle(h);
  }
};

TEST_F(MountedStorage, AKernelMountedExt4IsWrittenThroughNoName) {
  KESTRO_REQUIRE_TOOL("mkfs.ext4");
  KESTRO_REQUIRE_TOOL("sfdisk");
  KESTRO_REQUIRE_TOOL("e2fsck");
  const std::string volume = dir.File("ext4.img");
  MakeExt4(volume, kFirstLength);
  std::string disk, mountPoint, whyNot;
  auto loop = AttachDiskHolding(volume, &disk, &mountPoint, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  {
    auto mount = ScopedMount::Kernel(loop->Partition(1), mountPoint, &whyNot);
    if (!mount) GTEST_SKIP() << whyNot;
    ExpectOnlyPartitionOneProtected(*loop, disk);
  }
  const auto check = RunCommand("e2fsck -n -f " + ShellQuote(loop->Partition(1)));
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(WriteThrough(loop->Partition(1), 8192), ERROR_SUCCESS);  // unmounted again
}

TEST_F(MountedStorage, AnNtfsVolumeMountedThroughFuseIsWrittenThroughNoName) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string volume = dir.File("ntfs.img");
  MakeNtfs(volume, kFirstLength);
  std::string disk, mountPoint, whyNot;
  auto loop = AttachDiskHolding(volume, &disk, &mountPoint, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  auto mount = NtfsMount::Mount(loop->Partition(1), mountPoint, &whyNot);
  if (!mount) GTEST_SKIP() << whyNot;
  ExpectOnlyPartitionOneProtected(*loop, disk);
}

TEST_F(MountedStorage, AnActiveSwapFileIsWrittenThroughNoName) {
  KESTRO_REQUIRE_TOOL("swapon");
  const std::string file = dir.File("swap.img");
  // Swap files may have no holes.
  ASSERT_EQ(
      RunCommand("dd if=/dev/zero of=" + ShellQuote(file) + " bs=1M count=4 status=none").status,
      0);
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  std::string whyNot;
  auto loop = LoopDevice::Attach(file, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  {
    const ScopedSwap swap(file);
    if (!swap.on()) GTEST_SKIP() << "swapon is not allowed here";
    EXPECT_EQ(WriteThrough(file, 8192), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteThrough(loop->device(), 8192), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(WriteThrough(file, 8192), ERROR_SUCCESS);
}

// A child inherits the lock's descriptors, so closing its copy of the handle leaves the parent's
// lock held by the kernel while the child's own view of the process's locks is empty. The
// parent reads the image: a process holding it open for writing would be using it.
TEST_F(MountedStorage, ALockExcludesOtherProcessesUntilItIsReleased) {
  const std::string image = Image("volume.img", 4 * kMiB);
  std::string whyNot;
  auto loop = LoopDevice::Attach(image, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  ASSERT_TRUE(kestro::MapDrive('C', image));
  HANDLE byImage = OpenShared(WTEXT("\\\\.\\C:"), 0, GENERIC_READ);
  HANDLE byDevice = OpenPath(loop->device());
  // What a second process gets when it asks for the lock through `name`.
  auto lockElsewhere = [&](HANDLE inherited, const std::string& name) {
    return InChild([&] {
      CloseHandle(inherited);
      HANDLE own = name.empty() ? OpenShared(WTEXT("\\\\.\\C:")) : OpenPath(name);
      return static_cast<int>(Control(own, FSCTL_LOCK_VOLUME));
    });
  };

  ASSERT_EQ(Control(byImage, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(lockElsewhere(byImage, ""), static_cast<int>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(lockElsewhere(byImage, loop->device()), static_cast<int>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(Control(byImage, FSCTL_UNLOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(lockElsewhere(byImage, ""), static_cast<int>(ERROR_SUCCESS));

  ASSERT_EQ(Control(byDevice, FSCTL_LOCK_VOLUME), ERROR_SUCCESS);
  EXPECT_EQ(lockElsewhere(byDevice, loop->device()), static_cast<int>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(lockElsewhere(byDevice, ""), static_cast<int>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(CloseHandle(byDevice));  // closing releases the lock
  EXPECT_EQ(lockElsewhere(byImage, loop->device()), static_cast<int>(ERROR_SUCCESS));
  HANDLE writer = OpenShared(WTEXT("\\\\.\\C:"));
  EXPECT_EQ(lockElsewhere(byImage, ""), static_cast<int>(ERROR_ACCESS_DENIED));
  CloseHandle(writer);
  CloseHandle(byImage);
}

TEST_F(MountedStorage, ReadOnlyMediaOpenForReadingAndRefuseWritesWithTheReason) {
  const std::string image = Image("volume.img", 4 * kMiB);
  std::string whyNot;
  auto loop = LoopDevice::Attach(image, &whyNot, "-r");
  if (!loop) GTEST_SKIP() << whyNot;
  HANDLE device = OpenPath(loop->device());
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(ReadAt(device, 4096), ERROR_SUCCESS);
  EXPECT_EQ(WriteAt(device, 4096), ERROR_WRITE_PROTECT);
  CloseHandle(device);

  // A file its user may only read, opened by path and as a drive, by a user who is not root: a
  // read-write open is denied, as Windows denies it, and a read-only one reads.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(image.c_str(), 0444), 0);
  ASSERT_TRUE(kestro::MapDrive('R', image));
  const int result = InChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 1;
    if (OpenPath(image) != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) return 4;
    if (OpenShared(WTEXT("\\\\.\\R:")) != INVALID_HANDLE_VALUE ||
        GetLastError() != ERROR_ACCESS_DENIED) {
      return 5;
    }
    CKestro32 volume(18, 0);  // the library's opening of R: is denied too
    if (volume.m_bReady != 0 || GetLastError() != ERROR_ACCESS_DENIED) return 6;
    HANDLE file = OpenPath(image, GENERIC_READ);
    HANDLE drive = OpenShared(WTEXT("\\\\.\\R:"), 0, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE || drive == INVALID_HANDLE_VALUE) return 2;
    return ReadAt(file, 0) == ERROR_SUCCESS && ReadAt(drive, 0) == ERROR_SUCCESS ? 0 : 3;
  });
  EXPECT_EQ(result, 0) << "1: cannot become nobody, 2: no read-only open, 3: cannot read, "
                          "4/5/6: a read-write open was not denied";
}

}  // namespace
