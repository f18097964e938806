// Snapshots made by the requester on Linux, over real file systems: reflink clones on XFS and
// btrfs, the live volume on ext4, frozen loop mounts, reaping after a crash, and the LVM engine
// against a stand-in lvm tool.
#include <Kestro32.h>
#include <Shadrel.h>
#include <shadrel/provider.h>
#include <shadrel/snapshots.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>
#include <win32/drive_map.h>
#include <win32/utf.h>
#include <win32/windows.h>

#include "fixtures.h"
#include "mapped_drive_test.h"
#include "linux_provider.h"
#include "lvm_engine.h"

using namespace win32;
using kestro::testing::LoopDevice;
using kestro::testing::MappedDriveTest;
using kestro::testing::RunCommand;
using kestro::testing::ScopedEnv;
using kestro::testing::ScopedMount;
using kestro::testing::ShellQuote;

namespace {

constexpr uint64_t kVolumeSize = 16 << 20;
constexpr uint64_t kProbeOffset = 1 << 20;  // a volume byte the writer changes

size_t FilesIn(const std::string& dir) {
  if (!std::filesystem::exists(dir)) return 0;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

std::string SnapshotPathOf(const CKestro32& volume) {
  return kestro::ToUtf8(volume.m_szSnapshotPath);
}

std::vector<uint8_t> ReadVolume(CKestro32& volume, uint64_t offset, DWORD length) {
  std::vector<uint8_t> bytes(length);
  DWORD read = 0;
  EXPECT_TRUE(volume.SeekNT(static_cast<LONGLONG>(offset), 0));
  EXPECT_EQ(volume.ReadNT(bytes.data(), length, &read), 0u);
  EXPECT_EQ(read, length);
  return bytes;
}

// Writes `bytes` into the live image from another process, as a host's writer would.
void WriteFromChild(const std::string& image, uint64_t offset, const std::vector<uint8_t>& bytes) {
  const pid_t child = fork();
  if (child == 0) {
    kestro::testing::WriteBytes(image, offset, bytes);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A file system of one kind in an image file, mounted through a loop device, holding a volume
// image mapped to drive C:; state and records go to a folder of the test's own.
class SnapshotHost : public MappedDriveTest {
 protected:
  // Makes and mounts the file system `mkfs` makes; false (the test skips) where it cannot.
  bool MountFileSystem(const std::string& mkfs, const std::string& tool) {
    if (!kestro::testing::HaveTool(tool)) {
      whyNot_ = tool + " is not installed";
      return false;
    }
    const std::string image = dir.File("host.img");
    kestro::testing::CreateSparseFile(image, 512ull << 20);
    if (RunCommand(mkfs + " " + ShellQuote(image) + " >/dev/null 2>&1").status != 0) {
      whyNot_ = mkfs + " failed";
      return false;
    }
    std::filesystem::create_directory(mountPoint_);
    auto mounted = ScopedMount::Kernel(image, mountPoint_, &whyNot_);
    if (!mounted) return false;
    mount_.emplace(std::move(*mounted));
    return true;
  }

  void MapVolume(const std::string& image) {
    volumeImage_ = image;
    kestro::MapDrive('C', image);
  }

  std::string mountPoint_ = dir.File("host");
  std::string volumeImage_;
  std::string whyNot_;
  std::optional<ScopedMount> mount_;
  ScopedEnv state_{"KESTRO_STATE_DIR", dir.File("state")};
  ScopedEnv snapshotDir_{"KESTRO_SNAPSHOT_DIR", std::nullopt};
};

class ReflinkSnapshot : public SnapshotHost,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(ReflinkSnapshot, PresentsTheVolumeAsItWasUntilTheLastCopyEnds) {
  if (!MountFileSystem(GetParam().first, GetParam().second)) GTEST_SKIP() << whyNot_;
  kestro::testing::MakeFat(mountPoint_ + "/c.img", 16, kVolumeSize);
  MapVolume(mountPoint_ + "/c.img");
  const std::string clones = mountPoint_ + "/.kestro-snapshots";
  const auto before = kestro::testing::ReadBytes(volumeImage_, kProbeOffset, 4096);

  std::string device;
  {
    auto volume = std::make_unique<CKestro32>(3, 1);
    ASSERT_EQ(volume->m_bReady, 1);
    ASSERT_EQ(volume->m_bVssActive, 1);
    device = SnapshotPathOf(*volume);
    EXPECT_EQ(device.rfind("\\\\?\\GLOBALROOT\\Device\\KestroSnapshot", 0), 0u) << device;
    EXPECT_NE(volume->m_hDisk, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::filesystem::status(clones).permissions(), std::filesystem::perms::owner_all);
    ASSERT_EQ(FilesIn(clones), 1u);
    EXPECT_EQ(
        std::filesystem::status(std::filesystem::directory_iterator(clones)->path()).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto facts = shadrel::DescribeSnapshot(volume->m_Requester);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->engine, "reflink");

    WriteFromChild(volumeImage_, kProbeOffset, kestro::testing::Pattern(0, 4096, 7));
    volume->Initial(1 << 16);
    EXPECT_EQ(ReadVolume(*volume, kProbeOffset, 4096), before);
    EXPECT_EQ(kestro::testing::ReadBytes(volumeImage_, kProbeOffset, 4096),
              kestro::testing::Pattern(0, 4096, 7));
    // A snapshot is read-only: a write would vanish with the clone.
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(volume->m_hDisk, before.data(), 4096, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_PROTECT));

    CKestro32 copy(*volume);
    volume.reset();  // the copy still holds the snapshot
    EXPECT_EQ(FilesIn(clones), 1u);
    const HANDLE again =
        CreateFileW(copy.m_szSnapshotPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    // The last holder lets go through an assignment, which leaves its handle to the host: the
    // snapshot lasts until that handle and every other one on its device are closed.
    const HANDLE held = copy.m_hDisk;
    copy = CKestro32();
    CloseHandle(held);
    EXPECT_EQ(FilesIn(clones), 1u);
    CloseHandle(again);
  }
  EXPECT_EQ(FilesIn(clones), 0u);
  EXPECT_EQ(FilesIn(dir.File("state")), 0u);
  const auto wide = kestro::ToWide(kestro::FromUtf8(device));
  EXPECT_EQ(
      CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A host that holds the image open names it by its descriptor: the snapshot is of that file, and
// its clone lies beside the name the file has now, whatever took its old name.
TEST_P(ReflinkSnapshot, ADriveMappedToAHeldFileSnapshotsThatFileWhereverItWasMoved) {
  if (!MountFileSystem(GetParam().first, GetParam().second)) GTEST_SKIP() << whyNot_;
  const std::string image = mountPoint_ + "/c.img";
  kestro::testing::MakeFat(image, 16, kVolumeSize);
  const auto held = kestro::testing::ReadBytes(image, kProbeOffset, 4096);
  // Closed however the test ends, so that the file system can be unmounted.
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(image.c_str(), "rbe"), &std::fclose);
  ASSERT_NE(file, nullptr);
  kestro::MapDrive('C', "/proc/self/fd/" + std::to_string(fileno(file.get())));
  std::filesystem::create_directory(mountPoint_ + "/moved");
  std::filesystem::rename(image, mountPoint_ + "/moved/c.img");
  kestro::testing::MakeFat(image, 16, kVolumeSize);
  kestro::testing::WriteBytes(image, kProbeOffset, kestro::testing::Pattern(0, 4096, 9));
  {
    CKestro32 volume(3, 1);
    ASSERT_EQ(volume.m_bVssActive, 1) << shadrel::LastSnapshotFailure();
    volume.Initial(1 << 16);
    EXPECT_EQ(ReadVolume(volume, kProbeOffset, 4096), held);
    EXPECT_EQ(FilesIn(mountPoint_ + "/moved/.kestro-snapshots"), 1u);
    EXPECT_FALSE(std::filesystem::exists(mountPoint_ + "/.kestro-snapshots"));
  }
}

// The name the kernel keeps for a loop device's removed backing file is only a hint: a link
// planted there leads to another file, which must not be what the snapshot copies.
TEST_P(ReflinkSnapshot, ALoopDeviceWhoseBackingNameNowLeadsElsewhereIsRefused) {
  if (!MountFileSystem(GetParam().first, GetParam().second)) GTEST_SKIP() << whyNot_;
  const std::string image = mountPoint_ + "/c.img";
  const std::string decoy = mountPoint_ + "/decoy.img";
  kestro::testing::MakeFat(image, 16, kVolumeSize);
  kestro::testing::MakeFat(decoy, 16, kVolumeSize);
  auto loop = LoopDevice::Attach(image, &whyNot_);
  if (!loop) GTEST_SKIP() << whyNot_;
  std::filesystem::remove(image);
  std::filesystem::create_symlink(decoy, image + " (deleted)");
  kestro::MapDrive('C', loop->device());
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_NE(shadrel::LastSnapshotFailure().find("cannot open " + image), std::string::npos)
      << shadrel::LastSnapshotFailure();
  EXPECT_FALSE(std::filesystem::exists(mountPoint_ + "/.kestro-snapshots"));
}

// The answer of control code `code` on the device `name` opens, byte for byte.
std::vector<uint8_t> ControlAnswer(const std::u16string& name, DWORD code) {
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> answer(4096);
  DWORD returned = 0;
  EXPECT_TRUE(DeviceIoControl(handle, code, nullptr, 0, answer.data(),
                              static_cast<DWORD>(answer.size()), &returned, nullptr));
  CloseHandle(handle);
  answer.resize(returned);
  return answer;
}

TEST_P(ReflinkSnapshot, AnswersTheControlCodesOfItsOriginForAPartition) {
  if (!MountFileSystem(GetParam().first, GetParam().second)) GTEST_SKIP() << whyNot_;
  const std::string disk = mountPoint_ + "/disk.img";
  kestro::testing::MakeFat(dir.File("volume.img"), 16, kVolumeSize);
  kestro::testing::CreateSparseFile(disk, 2 * kVolumeSize);
  kestro::testing::PartitionImage(disk, "label: dos\nstart=2048, size=32768, type=6\n");
  kestro::testing::PlaceVolume(disk, 1 << 20, dir.File("volume.img"));
  kestro::MapDrive('C', disk, 1);

  CKestro32 volume(3, 1);
  ASSERT_EQ(volume.m_bVssActive, 1);
  const std::u16string snapshot = kestro::Utf16(volume.m_szSnapshotPath);
  for (const DWORD code :
       {IOCTL_DISK_GET_DRIVE_GEOMETRY, IOCTL_DISK_GET_LENGTH_INFO, IOCTL_DISK_GET_PARTITION_INFO_EX,
        IOCTL_DISK_GET_DRIVE_LAYOUT_EX, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS}) {
    EXPECT_EQ(ControlAnswer(snapshot, code), ControlAnswer(u"\\\\.\\C:", code)) << code;
  }
}

INSTANTIATE_TEST_SUITE_P(CloningFileSystems, ReflinkSnapshot,
                         ::testing::Values(std::make_pair("mkfs.xfs -f -m reflink=1", "mkfs.xfs"),
                                           std::make_pair("mkfs.btrfs -f", "mkfs.btrfs")));

using LiveVolume = SnapshotHost;

TEST_F(LiveVolume, IsReadWhereTheFileSystemCannotCloneAndSaysWhy) {
  kestro::testing::MakeFat(dir.File("c.img"), 16, kVolumeSize);
  if (kestro::testing::RunCommand("stat -f -c %T " + ShellQuote(dir.path())).output !=
      "ext2/ext3\n")
    GTEST_SKIP() << "the temporary folder is not on ext4";
  MapVolume(dir.File("c.img"));
  // The host's standard output shows no more than an opening that asks for no snapshot.
  ::testing::internal::CaptureStdout();
  { CKestro32 live(3, 0); }
  const std::string plain = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(plain.find("Before GetPartitionInfoEx"), std::string::npos);
  ::testing::internal::CaptureStdout();
  CKestro32 volume(3, 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), plain);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_EQ(SnapshotPathOf(volume), "");
  EXPECT_EQ(shadrel::LastSnapshotFailure(),
            "the file system holding " + dir.File("c.img") + " cannot clone files (ext4)");
  EXPECT_EQ(FilesIn(dir.File(".kestro-snapshots")), 0u);
  EXPECT_EQ(FilesIn(dir.File("state")), 0u);
}

using FrozenMount = SnapshotHost;

TEST_F(FrozenMount, FileSystemInsideTheImageIsCleanInTheCloneAndWritableAfter) {
  if (!MountFileSystem("mkfs.xfs -f -m reflink=1", "mkfs.xfs")) GTEST_SKIP() << whyNot_;
  const std::string image = mountPoint_ + "/ext4.img";
  kestro::testing::MakeExt4(image, 64 << 20);
  const std::string inner = dir.File("inner");
  std::filesystem::create_directory(inner);
  auto innerMount = ScopedMount::Kernel(image, inner, &whyNot_);
  if (!innerMount) GTEST_SKIP() << whyNot_;
  std::ofstream(inner + "/before") << "written before the snapshot";
  MapVolume(image);

  CShadrel requester;
  WCHAR root[] = {u'C', u':', u'\\', 0};
  WCHAR path[MAX_PATH] = {};
  int length = 3;
  ASSERT_EQ(requester.VssStartBackupNoWriter(root, path, length), 0)
      << shadrel::LastSnapshotFailure();
  // Thawed: a write and its flush finish at once.
  EXPECT_EQ(RunCommand("timeout 10 sh -c 'echo after > " + inner + "/after && sync -f " + inner +
                       "/after'")
                .status,
            0);
  const std::string clone =
      std::filesystem::directory_iterator(mountPoint_ + "/.kestro-snapshots")->path().string();
  const auto checked = RunCommand("e2fsck -fn " + ShellQuote(clone) + " 2>&1");
  EXPECT_EQ(checked.status, 0) << checked.output;
  EXPECT_NE(RunCommand("debugfs -R 'cat /before' " + ShellQuote(clone) + " 2>/dev/null")
                .output.find("written before the snapshot"),
            std::string::npos);
  requester.VssBackupComplete();
}

using Reaping = SnapshotHost;

TEST_F(Reaping, SnapshotOfAKilledOwnerIsRemovedByTheNextStart) {
  if (!MountFileSystem("mkfs.xfs -f -m reflink=1", "mkfs.xfs")) GTEST_SKIP() << whyNot_;
  kestro::testing::MakeFat(mountPoint_ + "/c.img", 16, kVolumeSize);
  MapVolume(mountPoint_ + "/c.img");
  const std::string clones = mountPoint_ + "/.kestro-snapshots";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    CShadrel requester;
    WCHAR root[] = {u'C', u':', u'\\', 0};
    WCHAR path[MAX_PATH] = {};
    int length = 3;
    const char made = requester.VssStartBackupNoWriter(root, path, length) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &made, 1);
    pause();
    _exit(0);
  }
  char made = 0;
  ASSERT_EQ(read(ready[0], &made, 1), 1);
  ASSERT_EQ(made, 'y');
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  auto listed = shadrel::ListSnapshots().entries;
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].pid, child);
  EXPECT_FALSE(listed[0].live);
  EXPECT_EQ(listed[0].engine, "reflink");
  EXPECT_EQ(FilesIn(clones), 1u);

  CKestro32 volume(3, 1);
  ASSERT_EQ(volume.m_bVssActive, 1);
  listed = shadrel::ListSnapshots().entries;
  ASSERT_EQ(listed.size(), 1u);  // only this process's own
  EXPECT_TRUE(listed[0].live);
  EXPECT_EQ(listed[0].pid, getpid());
  EXPECT_EQ(FilesIn(clones), 1u);
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
