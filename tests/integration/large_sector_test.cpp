// A device with 4096-byte logical sectors (a loop device made with --sector-size 4096) holding a
// FAT32 volume with 4096-byte sectors, as drive C: the device reports its real sectors, the
// library's 512-byte transfers reach it byte for byte, and handles that Windows' alignment
// rules govern keep them.
#include <Kestro32.h>

#include <cstring>
#include <optional>

#include <win32/utf.h>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr uint64_t kDeviceSector = 4096;
constexpr uint64_t kVolumeSize = 32 * 1024 * 1024;

class LargeSectors : public ::testing::Test {
 protected:
  void SetUp() override {
    KESTRO_REQUIRE_TOOL("mkfs.fat");
    image = dir.File("volume.img");
    MakeFat(image, 32, kVolumeSize, "KESTRO", kDeviceSector);
    WriteBytes(image, kVolumeSize / 2, Pattern(kVolumeSize / 2, 256 * 1024, 5));
    std::string whyNot;
    auto attached = LoopDevice::Attach(image, &whyNot, "--sector-size 4096");
    if (!attached) GTEST_SKIP() << whyNot;
    loop.emplace(std::move(*attached));
    drive.emplace("KESTRO_DRIVE_C", loop->device());
  }

  std::vector<uint8_t> DeviceBytes() const { return ReadBytes(loop->device(), 0, kVolumeSize); }

  HANDLE Open(const char16_t* name, DWORD access, DWORD flags) const {
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
  }

  TempDir dir;
  std::string image;
  std::optional<LoopDevice> loop;
  std::optional<ScopedEnv> drive;
};

TEST_F(LargeSectors, TheDeviceReportsItsSectorsAndTheVolumeItsRealSize) {
  CKestro32 volume(3, 0);
  ASSERT_EQ(volume.m_bReady, 1);
  DISK_GEOMETRY geometry{};
  ASSERT_TRUE(volume.GetGeometry(&geometry));
  EXPECT_EQ(geometry.BytesPerSector, kDeviceSector);
  EXPECT_EQ(volume.m_llVolumeSize, kVolumeSize);
  EXPECT_LE(volume.m_llFreeBytes + volume.m_llUsedBytes, volume.m_llVolumeSize);

  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"C:\\", &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                &totalClusters));
  EXPECT_EQ(bytesPerSector, kDeviceSector);
  EXPECT_EQ(uint64_t{freeClusters} * sectorsPerCluster * bytesPerSector, volume.m_llFreeBytes);
}

TEST_F(LargeSectors, PartialSectorWritesThroughTheLibraryLandByteForByte) {
  std::vector<uint8_t> expected = DeviceBytes();
  {
    CKestro32 volume(3, 0);
    ASSERT_EQ(volume.m_bReady, 1);
    volume.Initial(64 * 1024);
    // Whole 512-byte sectors inside one device sector, then bytes at no sector boundary that
    // run across two device sectors.
    const struct {
      uint64_t offset;
      size_t length;
    } writes[] = {{100 * kDeviceSector + 1024, 1536}, {200 * kDeviceSector - 700, 5000}};
    for (const auto& write : writes) {
      std::vector<uint8_t> bytes = Pattern(write.offset, write.length, 77);
      ASSERT_EQ(volume.SeekNT(static_cast<LONGLONG>(write.offset), FILE_BEGIN), 1);
      ASSERT_EQ(volume.WriteNT(bytes.data(), static_cast<DWORD>(bytes.size())), write.length);
      std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<long>(write.offset));
    }
  }
  EXPECT_TRUE(DeviceBytes() == expected);
}

TEST_F(LargeSectors, HandlesKeepTheAlignmentRulesOfTheSectorsTheyPresent) {
  auto* buffer = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, kDeviceSector, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(buffer, nullptr);
  std::vector<uint8_t> expected = DeviceBytes();
  DWORD done = 0;

  // The library's device name presents 512-byte sectors, unbuffered too.
  const HANDLE volume = Open(u"\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  std::memcpy(buffer, Pattern(512, 512, 3).data(), 512);
  LARGE_INTEGER at{};
  at.QuadPart = 512;
  ASSERT_TRUE(SetFilePointerEx(volume, at, nullptr, FILE_BEGIN));
  EXPECT_TRUE(WriteFile(volume, buffer, 512, &done, nullptr));
  EXPECT_EQ(done, 512u);
  std::copy(buffer, buffer + 512, expected.begin() + 512);
  CloseHandle(volume);

  // Without read access the sectors around a partial write cannot be read: nothing is written.
  const HANDLE writeOnly = Open(u"\\\\.\\C:", GENERIC_WRITE, 0);
  ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
  std::memset(buffer, 0xEE, 512);
  at.QuadPart = 8 * kDeviceSector + 512;
  ASSERT_TRUE(SetFilePointerEx(writeOnly, at, nullptr, FILE_BEGIN));
  EXPECT_FALSE(WriteFile(writeOnly, buffer, 512, &done, nullptr));
  EXPECT_EQ(done, 0u);
  CloseHandle(writeOnly);
  EXPECT_TRUE(DeviceBytes() == expected);

  // Named by its own path, the device answers to Windows' rules at its own sector size.
  const std::u16string path = kestro::FromUtf8(loop->device());
  const HANDLE device = Open(path.c_str(), GENERIC_READ, FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(ReadFile(device, buffer, 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(ReadFile(device, buffer, kDeviceSector, &done, nullptr));
  EXPECT_EQ(std::memcmp(buffer, expected.data(), kDeviceSector), 0);
  CloseHandle(device);
  VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace
