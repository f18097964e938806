// Reading and the three legacy writers through the VWIN32 device emulator on real FAT images,
// with each release's DOS calls: function 7305h on 98 SE, interrupts 25h and 26h on the first 95.
#include <Kestro32.h>
#include <win32/drive_map.h>

#include <string>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr bool kHasDevice = sizeof(void*) == 4;
constexpr unsigned kDrive = 12;  // L:
constexpr DWORD kBufferSize = 64 * 1024;

struct Release {
  const char* version;
  int fatBits;
};

std::string NameOf(const Release& release) {
  return std::string(release.version[2] == '0' ? "First95" : "Win98SE") + "Fat" +
         std::to_string(release.fatBits);
}

std::string Name(const ::testing::TestParamInfo<Release>& info) {
  return NameOf(info.param);
}

// Keeps the test list free of the parameter's bytes, which hold an address.
void PrintTo(const Release& release, std::ostream* out) {
  *out << NameOf(release);
}

class LegacyTransfer : public MappedDrives<::testing::TestWithParam<Release>> {
 protected:
  void SetUp() override {
    if (!kHasDevice) GTEST_SKIP() << "the VWIN32 device exists in 32-bit builds (preset i686) only";
    KESTRO_REQUIRE_TOOL("mkfs.fat");
    const size_t size = GetParam().fatBits == 32 ? 40 << 20 : 16 << 20;
    MakeFat(image, GetParam().fatBits, size);
    // Everything behind the boot sector becomes a recognisable pattern.
    WriteBytes(image, 512, Pattern(512, size - 512, 7));
    kestro::MapDrive('L', image);
    ASSERT_TRUE(kestro::OpenLegacyVolume(volume));
    volume.Initial(kBufferSize);
    ASSERT_NE(volume.m_pBuffer, nullptr);
  }

  // Reads `len` bytes at `offset` through ReadNT, which the legacy family serves by ReadW.
  std::vector<uint8_t> ReadAt(uint64_t offset, DWORD len) {
    std::vector<uint8_t> bytes(len);
    DWORD read = 0;
    EXPECT_EQ(volume.SeekNT(static_cast<LONGLONG>(offset), FILE_BEGIN), 1);
    EXPECT_EQ(volume.ReadNT(bytes.data(), len, &read), 0u) << offset;
    bytes.resize(read);
    return bytes;
  }

  std::string image = dir.File("volume.img");
  ScopedEnv release{"KESTRO_WINDOWS_VERSION", GetParam().version};
  CKestro32 volume{kDrive, 0};
};

TEST_P(LegacyTransfer, ReadsReturnTheVolumesBytesAnywhere) {
  ASSERT_EQ(volume.m_bWin9x, 1);
  const uint64_t size = volume.m_llVolumeSize;
  for (const auto& [offset, len] : std::vector<std::pair<uint64_t, DWORD>>{
           {0, 1}, {511, 2}, {3 * 4096 + 7, 10000}, {1 << 20, kBufferSize}, {size - 3, 3}}) {
    EXPECT_EQ(ReadAt(offset, len), ReadBytes(image, offset, len)) << offset;
  }
  // A read that runs past the end stops at the last byte.
  EXPECT_EQ(ReadAt(size - 100, 1000), ReadBytes(image, size - 100, 100));
}

TEST_P(LegacyTransfer, EachWriterChangesExactlyItsOwnBytes) {
  std::vector<uint8_t> expected = ReadBytes(image, 0, static_cast<size_t>(volume.m_llVolumeSize));
  using Writer = DWORD (CKestro32::*)(void*, DWORD);
  const uint64_t last = volume.m_llVolumeSize;
  const struct {
    Writer write;
    uint64_t offset;
    DWORD len;
  } cases[] = {
      {&CKestro32::WriteDataW, 1000, 1500},      {&CKestro32::WriteDirDataW, 8192, 4096},
      {&CKestro32::WriteFatDataW, 70001, 3},     {&CKestro32::WriteNT, 200000, 60000},
      {&CKestro32::WriteDataW, last - 700, 700},  // ends on the last byte
  };
  uint32_t seed = 100;
  for (const auto& c : cases) {
    std::vector<uint8_t> data = Pattern(c.offset, c.len, ++seed);
    ASSERT_EQ(volume.SeekNT(static_cast<LONGLONG>(c.offset), FILE_BEGIN), 1);
    ASSERT_EQ((volume.*c.write)(data.data(), c.len), c.len) << c.offset;
    EXPECT_EQ(volume.m_llPos, c.offset + c.len);
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<ptrdiff_t>(c.offset));
  }
  EXPECT_TRUE(ReadBytes(image, 0, static_cast<size_t>(volume.m_llVolumeSize)) == expected);
  EXPECT_EQ(ReadAt(1000, 1500),
            std::vector<uint8_t>(expected.begin() + 1000, expected.begin() + 2500));
}

TEST_P(LegacyTransfer, AnotherHandlesLockRefusesWritesAndChangesNothing) {
  HANDLE other = CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  for (DWORD level = 0; level <= 2; ++level) {
    DEVIOCTL_REGISTERS regs{(level << 8) | kDrive, 0, 0x084A, 0x440D, 0, 0, 0};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(other, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &regs,
                                sizeof regs, &returned, nullptr));
    ASSERT_EQ(regs.reg_Flags & CARRY_FLAG, 0u);
  }
  const std::vector<uint8_t> before = ReadBytes(image, 0, 8192);
  std::vector<uint8_t> data(1000, 0xA5);
  ASSERT_EQ(volume.SeekNT(700, FILE_BEGIN), 1);
  EXPECT_EQ(volume.WriteDataW(data.data(), 1000), KESTRO_WRITE_FAILED);
  EXPECT_EQ(volume.m_llPos, 700u);
  EXPECT_EQ(ReadBytes(image, 0, 8192), before);
  // At level 2 others may still read.
  EXPECT_EQ(ReadAt(700, 1000), std::vector<uint8_t>(before.begin() + 700, before.begin() + 1700));
  CloseHandle(other);
  ASSERT_EQ(volume.SeekNT(700, FILE_BEGIN), 1);
  EXPECT_EQ(volume.WriteDataW(data.data(), 1000), 1000u);
  EXPECT_EQ(ReadBytes(image, 700, 1000), data);
}

INSTANTIATE_TEST_SUITE_P(Releases, LegacyTransfer,
                         ::testing::Values(Release{"4.10.2222 A", 32}, Release{"4.10.2222 A", 16},
                                           Release{"4.0.950", 16}, Release{"4.0.950", 12}),
                         Name);

using LegacyTransferFirst95 = MappedDriveTest;

TEST_F(LegacyTransferFirst95, AFat32VolumeCannotBeReadThroughTheOldCalls) {
  if (!kHasDevice) GTEST_SKIP() << "the VWIN32 device exists in 32-bit builds (preset i686) only";
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string image = dir.File("volume.img");
  MakeFat(image, 32, 40 << 20);
  kestro::MapDrive('L', image);
  ScopedEnv first95("KESTRO_WINDOWS_VERSION", "4.0.950");
  CKestro32 volume(kDrive, 0);
  ASSERT_TRUE(kestro::OpenLegacyVolume(volume));
  volume.Initial(kBufferSize);
  std::vector<uint8_t> bytes(512);
  DWORD read = 0;
  EXPECT_EQ(volume.ReadNT(bytes.data(), 512, &read), KESTRO_ERR_READ);
  kestro::ClearMappedDrives();
}

}  // namespace
