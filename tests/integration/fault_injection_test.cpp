// The fault-injecting wrapper over the POSIX backend on a real image file.
#include <win32/utf.h>
#include <win32/windows.h>

#include <fault_injecting_backend.h>
#include <fixtures.h>
#include <gtest/gtest.h>
#include <open_shared.h>

using namespace win32;
using namespace kestro::testing;
using win32::testing::FaultInjectingBackend;

namespace {

constexpr uint64_t kImageSize = 256 * 1024;
constexpr uint32_t kSeed = 3;

bool Seek(HANDLE h, LONGLONG to) {
  LARGE_INTEGER distance;
  distance.QuadPart = to;
  return SetFilePointerEx(h, distance, nullptr, FILE_BEGIN);
}

LONGLONG Pointer(HANDLE h) {
  LARGE_INTEGER stay = {};
  LARGE_INTEGER pointer = {};
  EXPECT_TRUE(SetFilePointerEx(h, stay, &pointer, FILE_CURRENT));
  return pointer.QuadPart;
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateSparseFile(image, kImageSize);
    WriteBytes(image, 0, Pattern(0, kImageSize, kSeed));
  }

  HANDLE Open() { return OpenShared(name.c_str()); }

  // Reads `length` bytes at `offset`: the bytes moved, or nullopt with `error` set.
  std::optional<std::vector<uint8_t>> ReadAt(HANDLE h, LONGLONG offset, DWORD length,
                                             DWORD* error) {
    std::vector<uint8_t> buffer(length);
    DWORD done = 1;
    if (!Seek(h, offset)) return std::nullopt;
    if (!ReadFile(h, buffer.data(), length, &done, nullptr)) {
      *error = GetLastError();
      EXPECT_EQ(done, 0u);
      return std::nullopt;
    }
    buffer.resize(done);
    return buffer;
  }

  // Which of `count` sector reads fail when one ReadFile in ten is made to fail.
  std::vector<int> FailedReads(uint64_t seed, int count) {
    FaultInjectingBackend faults(DefaultBackend(), seed);
    faults.FailOneIn(Kernel32Call::ReadFile, 10, ERROR_IO_DEVICE);
    ScopedBackend use(faults);
    HANDLE h = Open();
    std::vector<int> failed;
    for (int i = 0; i < count; ++i) {
      DWORD error = ERROR_SUCCESS;
      if (!ReadAt(h, (i % 64) * 512, 512, &error)) {
        EXPECT_EQ(error, ERROR_IO_DEVICE);
        failed.push_back(i);
      }
    }
    EXPECT_EQ(faults.FailureCount(Kernel32Call::ReadFile), failed.size());
    EXPECT_TRUE(CloseHandle(h));
    return failed;
  }

  TempDir dir;
  std::string image = dir.File("volume.img");
  std::u16string name = kestro::FromUtf8(image);
};

TEST_F(FaultInjection, FaultsComeAtTheirRateFromTheSeedAndOtherwiseCallsPassThrough) {
  FaultInjectingBackend faults(DefaultBackend(), kSeed);
  ScopedBackend use(faults);
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD error = ERROR_SUCCESS;
  DWORD done = 0;

  // With nothing chosen: the backend's own answers.
  EXPECT_EQ(ReadAt(h, 8192, 4096, &error), Pattern(8192, 4096, kSeed));
  const std::vector<uint8_t> written = Pattern(0, 512, kSeed + 1);
  ASSERT_TRUE(Seek(h, 131072));
  ASSERT_TRUE(WriteFile(h, written.data(), 512, &done, nullptr));
  EXPECT_EQ(done, 512u);
  EXPECT_EQ(ReadBytes(image, 131072, 512), written);
  EXPECT_EQ(ReadAt(h, kImageSize - 512, 4096, &error), Pattern(kImageSize - 512, 512, kSeed));

  // A bad range fails every transfer that touches it and leaves the pointer alone.
  faults.AddBadRange(name, 65536, 512);
  EXPECT_EQ(ReadAt(h, 65536 - 512, 512, &error), Pattern(65536 - 512, 512, kSeed));
  EXPECT_FALSE(ReadAt(h, 65536 - 512, 1024, &error));
  EXPECT_EQ(error, ERROR_CRC);
  EXPECT_EQ(Pointer(h), 65536 - 512);
  ASSERT_TRUE(Seek(h, 65536 + 256));
  EXPECT_FALSE(WriteFile(h, written.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CRC);
  EXPECT_EQ(ReadBytes(image, 65536, 1024), Pattern(65536, 1024, kSeed));
  EXPECT_EQ(ReadAt(h, 65536 + 512, 512, &error), Pattern(65536 + 512, 512, kSeed));

  // A short transfer moves whole sectors, fewer than asked, and succeeds.
  faults.ShortenTransfersOneIn(1);
  const auto part = ReadAt(h, 0, 4096, &error);
  ASSERT_TRUE(part);
  EXPECT_GE(part->size(), 512u);
  EXPECT_LT(part->size(), 4096u);
  EXPECT_EQ(part->size() % 512, 0u);
  EXPECT_EQ(*part, Pattern(0, part->size(), kSeed));
  EXPECT_EQ(Pointer(h), static_cast<LONGLONG>(part->size()));
  faults.ShortenTransfersOneIn(0);

  // Each kind of call fails as the system's call does.
  faults.FailOneIn(Kernel32Call::VirtualAlloc, 1, ERROR_NOT_ENOUGH_MEMORY);
  faults.FailOneIn(Kernel32Call::CreateFileW, 1, ERROR_SHARING_VIOLATION);
  faults.FailOneIn(Kernel32Call::SetFilePointer, 1, ERROR_IO_DEVICE);
  EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
  EXPECT_TRUE(CloseHandle(h));

  // One read in ten fails, the same ones again from the same seed and others from another.
  const std::vector<int> failed = FailedReads(7, 1000);
  EXPECT_GT(failed.size(), 70u);
  EXPECT_LT(failed.size(), 130u);
  EXPECT_EQ(FailedReads(7, 1000), failed);
  EXPECT_NE(FailedReads(8, 1000), failed);
}

}  // namespace
