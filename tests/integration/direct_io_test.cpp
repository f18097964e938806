// Transfers on block devices: whole aligned sectors reach the device without the page cache (none
// of the device's pages is resident afterwards), and the rest (buffers the device cannot reach
// straight, parts of a larger device sector, reads served ahead of time across a write) moves
// exactly its bytes. Where the system refuses O_DIRECT (a seccomp filter answers as such a file
// system does) the same transfers go through the page cache, which they leave again.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <win32/drive_map.h>
#include <win32/windows.h>

#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <optional>

#include <fixtures.h>
#include <gtest/gtest.h>
#include <open_shared.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDeviceSize = 16 * kMiB;
// Transfers stay inside this range, away from the ends that udev's probes read.
constexpr uint64_t kFirst = 4 * kMiB;
constexpr uint64_t kLast = 12 * kMiB;

// Pages of `device` in [kFirst, kLast) that the page cache holds.
size_t ResidentPages(const std::string& device) {
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  void* map = mmap(nullptr, kLast - kFirst, PROT_READ, MAP_SHARED, fd, kFirst);
  std::vector<unsigned char> pages((kLast - kFirst) / 4096);
  size_t resident = 0;
  if (map != MAP_FAILED && mincore(map, kLast - kFirst, pages.data()) == 0) {
    for (unsigned char page : pages) resident += page & 1;
  }
  if (map != MAP_FAILED) munmap(map, kLast - kFirst);
  close(fd);
  return resident;
}

void EvictPages(const std::string& device) {
  RunCommand("udevadm settle");
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

bool Transfer(HANDLE handle, uint64_t offset, void* buffer, size_t size, bool write) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD done = 0;
  if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) return false;
  const BOOL ok = write ? WriteFile(handle, buffer, static_cast<DWORD>(size), &done, nullptr)
                        : ReadFile(handle, buffer, static_cast<DWORD>(size), &done, nullptr);
  return ok && done == size;
}

// The kernel's answer where the file system refuses O_DIRECT: from here on, every open that asks
// for it fails with EINVAL.
void RefuseDirectOpens() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 5),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_DIRECT, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
}

class DeviceTransfers : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    image = dir.File("device.img");
    expected = Pattern(0, kDeviceSize, 3);
    CreateSparseFile(image, kDeviceSize);
    WriteBytes(image, 0, expected);
    std::string whyNot;
    auto attached =
        LoopDevice::Attach(image, &whyNot, "--sector-size " + std::to_string(GetParam()));
    if (!attached) GTEST_SKIP() << whyNot;
    loop.emplace(std::move(*attached));
    drive.emplace("KESTRO_DRIVE_C", loop->device());
  }
  void TearDown() override { kestro::ClearMappedDrives(); }

  // Writes `bytes` at `offset` through `handle` and into the expected device.
  void Write(HANDLE handle, uint64_t offset, std::vector<uint8_t> bytes) {
    ASSERT_TRUE(Transfer(handle, offset, bytes.data(), bytes.size(), true)) << GetLastError();
    std::memcpy(expected.data() + offset, bytes.data(), bytes.size());
  }
  void CheckTransfers();
  void ExpectRead(HANDLE handle, uint64_t offset, uint8_t* buffer, size_t size) {
    ASSERT_TRUE(Transfer(handle, offset, buffer, size, false)) << GetLastError();
    EXPECT_EQ(std::memcmp(buffer, expected.data() + offset, size), 0) << "at " << offset;
  }

  TempDir dir;
  std::string image;
  std::vector<uint8_t> expected;
  std::optional<LoopDevice> loop;
  std::optional<ScopedEnv> drive;
};

void DeviceTransfers::CheckTransfers() {
  EvictPages(loop->device());
  const HANDLE volume = OpenShared(u"\\\\.\\C:");
  const HANDLE other = OpenShared(u"\\\\.\\C:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  auto* aligned = static_cast<uint8_t*>(VirtualAlloc(nullptr, kMiB, MEM_COMMIT, PAGE_READWRITE));
  std::vector<uint8_t> unaligned(kMiB + 1);
  uint8_t* odd = unaligned.data() + 1;

  ExpectRead(volume, kFirst, aligned, kMiB);
  ExpectRead(volume, kFirst + kMiB + 512, odd, 64 * 1024);
  // Reads that follow one another are read ahead; a write through another handle between them
  // is what the later reads see.
  constexpr size_t kBlock = 128 * 1024;
  for (uint64_t at = 6 * kMiB; at < 8 * kMiB; at += kBlock) {
    if (at == 6 * kMiB + 3 * kBlock) Write(other, at + 2 * kBlock + 512, Pattern(0, 1024, 9));
    ExpectRead(volume, at, aligned, kBlock);
  }
  // Parts of a device sector, and whole sectors from a buffer at an odd address.
  Write(volume, 9 * kMiB + 1024, Pattern(0, 512, 11));
  std::vector<uint8_t> sectors = Pattern(0, 8192, 12);
  std::memcpy(odd, sectors.data(), sectors.size());
  ASSERT_TRUE(Transfer(volume, 10 * kMiB + 512, odd, sectors.size(), true)) << GetLastError();
  std::memcpy(expected.data() + 10 * kMiB + 512, sectors.data(), sectors.size());

  EXPECT_EQ(ResidentPages(loop->device()), 0u);
  EXPECT_TRUE(FlushFileBuffers(volume));
  EXPECT_TRUE(ReadBytes(image, 0, kDeviceSize) == expected);
  VirtualFree(aligned, 0, MEM_RELEASE);
  CloseHandle(other);
  CloseHandle(volume);
}

TEST_P(DeviceTransfers, AreDirectWhereAlignedAndExactWhereNot) {
  CheckTransfers();
#if defined(__x86_64__)
  if (GetParam() != 512) return;
  EXPECT_EXIT(
      {
        RefuseDirectOpens();
        CheckTransfers();
        std::_Exit(HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, DeviceTransfers, ::testing::Values(512u, 4096u));

}  // namespace
