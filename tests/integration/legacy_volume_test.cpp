// A legacy-family volume object made usable by OpenLegacyVolume, then locked, unlocked and asked
// for its media ID and device parameters through the VWIN32 device emulator, on real FAT images.
#include <Kestro32.h>
#include <win32/drive_map.h>

#include <string>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr bool kHasDevice = sizeof(void*) == 4;
constexpr unsigned kDrive = 12;  // L:

uint64_t Value(uint64_t field) {
  return field;
}

class LegacyVolume : public MappedDriveTest {
 protected:
  void SetUp() override { KESTRO_REQUIRE_TOOL("mkfs.fat"); }
  std::string MapFat(int fatBits, uint64_t size, const std::string& label = "KESTRO") {
    const std::string path = dir.File("volume.img");
    MakeFat(path, fatBits, size, label);
    kestro::MapDrive('L', path);
    return path;
  }

  // What mkfs.fat wrote as the volume's sector count.
  static uint64_t SectorsOf(const std::string& image) {
    const uint64_t small = FatInfoNumber(image, "small size").value();
    return small != 0 ? small : FatInfoNumber(image, "big size").value();
  }

  ScopedEnv release{"KESTRO_WINDOWS_VERSION", "4.10.2222 A"};  // 98 SE
};

TEST_F(LegacyVolume, WithoutTheDeviceTheObjectStaysAsItWas) {
  if (kHasDevice) GTEST_SKIP() << "32-bit builds have the device";
  MapFat(16, 16 << 20);
  CKestro32 volume(kDrive, 0);
  ASSERT_EQ(volume.m_bWin9x, 1);
  EXPECT_FALSE(kestro::OpenLegacyVolume(volume));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_llVolumeSize, 0u);
}

class LegacyVolumeWithDevice : public LegacyVolume {
 protected:
  void SetUp() override {
    if (!kHasDevice) GTEST_SKIP() << "the VWIN32 device exists in 32-bit builds (preset i686) only";
    LegacyVolume::SetUp();
  }
};

TEST_F(LegacyVolumeWithDevice, OpeningSizesTheVolumeAndControlWorksThroughTheObject) {
  const std::string image = MapFat(32, 40 << 20, "LEGACY32");
  CKestro32 volume(kDrive, 0);
  ASSERT_EQ(volume.m_bWin9x, 1);
  ASSERT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(kestro::OpenLegacyVolume(volume));
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_llTotalSectors, SectorsOf(image));
  EXPECT_EQ(volume.m_llVolumeSize, SectorsOf(image) * 512);
  EXPECT_FALSE(kestro::OpenLegacyVolume(volume));  // it holds its device already

  EXPECT_EQ(volume.GetCurrentLockState(kDrive), 0xFFFF);
  ASSERT_EQ(volume.LockVolume(kDrive, 0), 1);
  ASSERT_EQ(volume.LockVolume(kDrive, 1), 1);
  EXPECT_EQ(volume.GetCurrentLockState(kDrive), 1);
  EXPECT_EQ(volume.LockVolume(kDrive, 3), 0);
  EXPECT_EQ(volume.UnlockVolume(kDrive), 1);
  EXPECT_EQ(volume.GetCurrentLockState(kDrive), 0);
  EXPECT_EQ(volume.UnlockVolume(kDrive), 1);
  EXPECT_EQ(volume.GetCurrentLockState(kDrive), 0xFFFF);
  EXPECT_EQ(volume.UnlockVolume(kDrive), 0);

  _MID mid{};
  ASSERT_EQ(volume.GetMediaID(&mid, kDrive), 1);
  const FatVolumeId written = ProbeFatVolumeId(image);
  EXPECT_EQ(Value(mid.midSerialNum), written.serial);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(mid.midVolLabel), 11), written.label);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(mid.midFileSysType), 8), written.type);

  EA_DEVICEPARAMETERS params{};
  ASSERT_EQ(volume.GetGeometry(&params, kDrive), 1);
  const A_BF_BPB& bpb = params.stdBpb;
  EXPECT_EQ(Value(bpb.A_BF_BPB_BytesPerSector), FatInfoNumber(image, "sector size").value());
  EXPECT_EQ(Value(bpb.A_BF_BPB_SectorsPerCluster), FatInfoNumber(image, "cluster size").value());
  EXPECT_EQ(Value(bpb.A_BF_BPB_BigTotalSectorsHigh) << 16 | bpb.A_BF_BPB_BigTotalSectors,
            SectorsOf(image));
  EXPECT_EQ(volume.GetGeometry(&params, kDrive + 1), 0);
}

TEST_F(LegacyVolumeWithDevice, DestroyingTheObjectReleasesItsLocks) {
  MapFat(16, 16 << 20);
  {
    CKestro32 volume(kDrive, 0);
    ASSERT_TRUE(kestro::OpenLegacyVolume(volume));
    ASSERT_EQ(volume.LockVolume(kDrive, 0), 1);
  }
  CKestro32 next(kDrive, 0);
  ASSERT_TRUE(kestro::OpenLegacyVolume(next));
  EXPECT_EQ(next.GetCurrentLockState(kDrive), 0xFFFF);
  EXPECT_EQ(next.LockVolume(kDrive, 0), 1);
}

TEST_F(LegacyVolumeWithDevice, TheFirst95IsSizedThroughTheOlderParametersCall) {
  ScopedEnv first95("KESTRO_WINDOWS_VERSION", "4.0.950");
  const std::string image = MapFat(16, 16 << 20);
  CKestro32 volume(kDrive, 0);
  ASSERT_EQ(volume.VersionIsW95_40950(), 1);
  ASSERT_TRUE(kestro::OpenLegacyVolume(volume));
  EXPECT_EQ(volume.m_llVolumeSize, SectorsOf(image) * 512);
}

TEST_F(LegacyVolumeWithDevice, AnUnknownDriveLeavesTheObjectWithoutADevice) {
  CKestro32 volume(kDrive, 0);
  EXPECT_FALSE(kestro::OpenLegacyVolume(volume));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);  // DOS's 0002h for a drive it lacks
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
}

}  // namespace
