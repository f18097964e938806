// Volume objects as hosts hold them, over a real FAT volume image mapped to drive C: copies
// detached by their members, assignment and a second Initial that leave the old handle and
// buffer to the host, and a read-write open a user without write permission is denied.
#include <Kestro32.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr uint64_t kVolumeBytes = 16 << 20;

// This process's descriptors open on `path`.
size_t DescriptorsOn(const std::string& path) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(entry.path(), ignored) == path) ++count;
  }
  return count;
}

class HostLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { MakeFat(image_, 16, kVolumeBytes); }

  std::unique_ptr<CKestro32> Opened() {
    auto volume = std::make_unique<CKestro32>(3, 0);
    EXPECT_EQ(volume->m_bReady, 1);
    volume->Initial(1 << 16);
    return volume;
  }

  TempDir dir_;
  std::string image_ = dir_.File("c.img");
  ScopedEnv drive_{"KESTRO_DRIVE_C", image_};
};

TEST_F(HostLifecycle, CopiesDetachedByTheirMembersAndDestroyedInAnyOrderReleaseOnce) {
  const auto bytes = Pattern(0, 100, 5);
  for (const bool copyGoesFirst : {true, false}) {
    SCOPED_TRACE(copyGoesFirst);
    auto survivor = Opened();
    auto copy = std::make_unique<CKestro32>(*survivor);
    EXPECT_EQ(DescriptorsOn(image_), 1u);
    copy->m_hDisk = INVALID_HANDLE_VALUE;
    copy->m_pBuffer = nullptr;
    if (copyGoesFirst) {
      copy.reset();
      // The host reuses the memory; nothing the survivor does may write into it.
      auto reused = std::make_unique<std::array<uint8_t, sizeof(CKestro32)>>();
      reused->fill(0x5a);
      ASSERT_EQ(survivor->SeekNT(4096 + 7, 0), 1);
      EXPECT_EQ(survivor->WriteNT(const_cast<uint8_t*>(bytes.data()), 100), 100u);
      std::vector<uint8_t> back(100);
      ASSERT_EQ(survivor->SeekNT(4096 + 7, 0), 1);
      EXPECT_EQ(survivor->ReadNT(back.data(), 100, nullptr), 0u);
      EXPECT_EQ(back, bytes);
      EXPECT_EQ(std::count(reused->begin(), reused->end(), 0x5a), sizeof(CKestro32));
    }
    survivor.reset();
    EXPECT_EQ(DescriptorsOn(image_), 0u);
    copy.reset();
  }
  EXPECT_EQ(ReadBytes(image_, 4096 + 7, 100), bytes);
}

TEST_F(HostLifecycle, AssignmentAndASecondInitialLeaveWhatTheObjectHeldToTheHost) {
  auto volume = Opened();
  const HANDLE handle = volume->m_hDisk;
  BYTE* first = volume->m_pBuffer;
  volume->Initial(1 << 16);
  ASSERT_NE(volume->m_pBuffer, first);
  first[(1 << 16) - 1] = 1;  // still the host's
  EXPECT_TRUE(VirtualFree(first, 0, MEM_RELEASE));
  BYTE* second = volume->m_pBuffer;

  *volume = CKestro32();
  EXPECT_EQ(DescriptorsOn(image_), 1u);
  std::vector<uint8_t> sector(512);
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(handle, sector.data(), 512, &read, nullptr));
  EXPECT_EQ(read, 512u);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(VirtualFree(second, 0, MEM_RELEASE));
  volume.reset();
  EXPECT_EQ(DescriptorsOn(image_), 0u);

  // A copy keeps what its assigned source held, and releases it alone.
  volume = Opened();
  auto copy = std::make_unique<CKestro32>(*volume);
  *volume = CKestro32();
  volume.reset();
  EXPECT_EQ(DescriptorsOn(image_), 1u);
  copy->m_pBuffer[0] = 1;
  copy.reset();
  EXPECT_EQ(DescriptorsOn(image_), 0u);
}

TEST_F(HostLifecycle, AUserWhoMayOnlyReadTheVolumeCannotOpenItForWriting) {
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(image_.c_str(), 0644), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    CKestro32 volume(3, 0);
    if (volume.m_bReady != 0 || volume.m_hDisk != INVALID_HANDLE_VALUE) _exit(2);
    _exit(GetLastError() == ERROR_ACCESS_DENIED ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: cannot become nobody, 2: opened, 3: not denied";
}

}  // namespace
