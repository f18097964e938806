// Positioning: the acceptance test at every bound for each origin, the device pointer after an
// NT-family seek, a failing device move, and the read-back window left alone.
#include <Kestro32.h>

#include <limits>

#include <fake_world.h>

using namespace win32;
using win32::testing::Outcome;

namespace {

constexpr ULONGLONG kSize = 1 << 20;  // S, a multiple of 512

class Seek : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    volume.m_hDisk = OpenDevice(u"\\\\.\\C:", std::vector<uint8_t>(kSize));
    volume.m_llVolumeSize = kSize;
    volume.m_llPos = 0;
    volume.m_llSector = 0;
    fake.ClearCalls();
  }

  // The device pointer as the last SetFilePointerEx left it.
  uint64_t DevicePointer() {
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    SetFilePointerEx(volume.m_hDisk, zero, &at, FILE_CURRENT);
    return static_cast<uint64_t>(at.QuadPart);
  }

  bool Accepts(LONGLONG distance, int origin, ULONGLONG from, ULONGLONG expected) {
    volume.m_llPos = from;
    volume.m_llSector = from >> 9;
    return volume.SeekNT(distance, origin) == 1 && volume.m_llPos == expected &&
           volume.m_llSector == expected >> 9;
  }

  bool Rejects(LONGLONG distance, int origin, ULONGLONG from) {
    volume.m_llPos = from;
    volume.m_llSector = from >> 9;
    const size_t moves = fake.CountOf(Kernel32Call::SetFilePointerEx);
    return volume.SeekNT(distance, origin) == 0 && volume.m_llPos == from &&
           volume.m_llSector == from >> 9 && fake.CountOf(Kernel32Call::SetFilePointerEx) == moves;
  }

  CKestro32 volume;
};

TEST_F(Seek, FromTheStartAcceptsZeroThroughTheEnd) {
  EXPECT_TRUE(Accepts(0, FILE_BEGIN, 77, 0));
  EXPECT_TRUE(Accepts(kSize, FILE_BEGIN, 0, kSize));
  EXPECT_TRUE(Rejects(kSize + 1, FILE_BEGIN, 5));
  EXPECT_TRUE(Rejects(-1, FILE_BEGIN, 5));
  EXPECT_TRUE(Rejects(std::numeric_limits<int64_t>::min(), FILE_BEGIN, 5));
}

TEST_F(Seek, FromTheCurrentPositionStaysInsideTheVolume) {
  EXPECT_TRUE(Accepts(-10, FILE_CURRENT, 10, 0));
  EXPECT_TRUE(Rejects(-11, FILE_CURRENT, 10));
  EXPECT_TRUE(Rejects(1, FILE_CURRENT, kSize));
  EXPECT_TRUE(Accepts(0, FILE_CURRENT, kSize, kSize));
  EXPECT_TRUE(Rejects(std::numeric_limits<int64_t>::max(), FILE_CURRENT, 1));
}

TEST_F(Seek, FromTheEndTakesZeroOrNegativeDistances) {
  EXPECT_TRUE(Accepts(0, FILE_END, 0, kSize));
  EXPECT_TRUE(Accepts(-static_cast<LONGLONG>(kSize), FILE_END, 9, 0));
  EXPECT_TRUE(Rejects(1, FILE_END, 9));
  EXPECT_TRUE(Rejects(-static_cast<LONGLONG>(kSize) - 1, FILE_END, 9));
  EXPECT_TRUE(Rejects(std::numeric_limits<int64_t>::min(), FILE_END, 9));
}

TEST_F(Seek, OtherOriginsAreRejected) {
  EXPECT_TRUE(Rejects(100, 3, 0));
  EXPECT_TRUE(Rejects(0, -1, 0));
}

TEST_F(Seek, AnEmptyVolumeAcceptsOnlyPositionZero) {
  volume.m_llVolumeSize = 0;
  EXPECT_TRUE(Accepts(0, FILE_BEGIN, 0, 0));
  EXPECT_TRUE(Accepts(0, FILE_CURRENT, 0, 0));
  EXPECT_TRUE(Accepts(0, FILE_END, 0, 0));
  EXPECT_TRUE(Rejects(1, FILE_BEGIN, 0));
  EXPECT_TRUE(Rejects(-1, FILE_END, 0));
}

TEST_F(Seek, TheDevicePointerGoesToTheStartOfTheSector) {
  ASSERT_EQ(volume.SeekNT(1000, FILE_BEGIN), 1);
  EXPECT_EQ(volume.m_llSector, 1u);
  const win32::testing::Call& move = *fake.CallsOf(Kernel32Call::SetFilePointerEx).at(0);
  EXPECT_EQ(move.args, (std::vector<uint64_t>{512, FILE_BEGIN}));
  ASSERT_EQ(volume.SeekNT(-1, FILE_END), 1);
  EXPECT_EQ(DevicePointer(), kSize - 512);
  ASSERT_EQ(volume.SeekNT(-600, FILE_CURRENT), 1);
  EXPECT_EQ(volume.m_llPos, kSize - 601);
  EXPECT_EQ(DevicePointer(), kSize - 1024);
}

TEST_F(Seek, AFailedDeviceMoveReportsZeroButKeepsTheNewPosition) {
  fake.Script(Kernel32Call::SetFilePointerEx, Outcome::Failure(ERROR_INVALID_HANDLE));
  EXPECT_EQ(volume.SeekNT(4096 + 7, FILE_BEGIN), 0);
  EXPECT_EQ(volume.m_llPos, 4103u);
  EXPECT_EQ(volume.m_llSector, 8u);
  EXPECT_EQ(volume.DriveSeek(INVALID_HANDLE_VALUE, 0, FILE_BEGIN), -1);
}

TEST_F(Seek, TheLegacyFamilyKeepsBooksAndTouchesNoDevice) {
  volume.m_bWin9x = 1;
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(Accepts(1000, FILE_BEGIN, 0, 1000));
  EXPECT_EQ(fake.CountOf(Kernel32Call::SetFilePointerEx), 0u);
}

TEST_F(Seek, SeeksLeaveTheReadBackWindowAlone) {
  volume.m_bWindowValid = 1;
  volume.m_llWindowStart = 512;
  volume.m_llWindowLength = 65536;
  volume.SeekNT(5, FILE_BEGIN);
  volume.SeekNT(kSize + 5, FILE_BEGIN);
  volume.m_bWin9x = 1;
  volume.SeekNT(7, FILE_CURRENT);
  EXPECT_EQ(volume.m_bWindowValid, 1);
  EXPECT_EQ(volume.m_llWindowStart, 512u);
  EXPECT_EQ(volume.m_llWindowLength, 65536u);
}

TEST_F(Seek, DriveSeekReturnsTheNewPointerOfAnyHandle) {
  HANDLE other = OpenDevice(u"\\\\.\\D:", std::vector<uint8_t>(8192));
  EXPECT_EQ(volume.DriveSeek(other, 4096, FILE_BEGIN), 4096);
  EXPECT_EQ(volume.DriveSeek(other, -1024, FILE_CURRENT), 3072);
  EXPECT_EQ(volume.DriveSeek(other, -9000, FILE_END), -1);
}

}  // namespace
