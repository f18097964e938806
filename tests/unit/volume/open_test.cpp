// Opening a volume over the fake backend: the order of the steps, the partition cascade and its
// lines, classification, sizing, the reopen step after each failure, and the snapshot path.
#include <Kestro32.h>

#include <cstring>

#include <win32/utf.h>

#include <allocation_log.h>
#include <fake_world.h>

using namespace win32;
using win32::testing::Outcome;

namespace {

constexpr ULONGLONG kPartitionOffset = 1048576;
constexpr ULONGLONG kPartitionLength = 64 << 20;

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
  return std::vector<std::string>(lines.begin(), lines.end());
}

class Opening : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    bootSector.assign(1024, 0);
    for (size_t i = 11; i < 84; ++i) bootSector[i] = static_cast<uint8_t>(i);
    SetBoot64(40, 131071);
    fake.AddDevice(u"\\\\.\\C:", bootSector, win32::testing::DeviceKind::kVolume);
    fake.SetFreeSpace(u"C:\\", {10737418240ull, 4294967296ull, 1, 8, 512, 0, 0});
    fake.SetVolumeInfo(u"C:\\", {u"NTFS", u"DATA", 0x1234});
    DISK_GEOMETRY geometry{};
    geometry.BytesPerSector = 512;
    fake.SetIoctlReply(IOCTL_DISK_GET_DRIVE_GEOMETRY, Outcome::Reply(geometry));
    PARTITION_INFORMATION_EX ex{};
    ex.PartitionStyle = PARTITION_STYLE_GPT;
    ex.StartingOffset.QuadPart = kPartitionOffset;
    ex.PartitionLength.QuadPart = kPartitionLength;
    ex.PartitionNumber = 2;
    fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Reply(ex));
    requester.events.clear();
    requester.startResult = 1;
  }

  void SetBoot64(size_t offset, uint64_t value) {
    for (size_t i = 0; i < 8; ++i) bootSector[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }

  // Rewrites the volume's boot sector in the fake device.
  void StoreBoot() { fake.DeviceBytes(u"\\\\.\\C:") = bootSector; }

  void FileSystem(const std::u16string& name) { fake.SetVolumeInfo(u"C:\\", {name, u"", 0}); }

  std::vector<std::u16string> OpenedNames() const {
    std::vector<std::u16string> names;
    for (const auto* call : fake.CallsOf(Kernel32Call::CreateFileW)) names.push_back(call->name);
    return names;
  }

  std::vector<uint8_t> bootSector;
};

TEST_F(Opening, AnNtfsVolumeIsMeasuredClassifiedSizedAndReopened) {
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_nDrive, 3u);
  EXPECT_EQ(volume.m_nFsType, FSTYPE_NTFS);
  EXPECT_EQ(volume.m_llFreeBytes, 4294967296ull);
  EXPECT_EQ(volume.m_llUsedBytes, 10737418240ull - 4294967296ull);
  EXPECT_EQ(volume.m_llPartOffset, kPartitionOffset);
  EXPECT_EQ(volume.m_PartInfoEx.PartitionNumber, 2u);
  EXPECT_EQ(0, std::memcmp(volume.m_BootParams, bootSector.data() + 11, 73));
  EXPECT_EQ(volume.m_llTotalSectors, 131071u);
  EXPECT_EQ(volume.m_llVolumeSize, 131071u * 512);
  EXPECT_EQ(volume.m_llPos, 0u);
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake.output, Lines({"Before GetPartitionInfoEx\r\n",
                                "IOCTL_DISK_GET_PARTITION_INFO_EX(fResult = 1, cb = 144, "
                                "lasterror = 0)\r\n"}));
  // Measured on one handle, then reopened for transfers at offset 0, without flags.
  EXPECT_EQ(OpenedNames(), (std::vector<std::u16string>{u"\\\\.\\C:", u"\\\\.\\C:"}));
  const auto opens = fake.CallsOf(Kernel32Call::CreateFileW);
  EXPECT_EQ(opens[1]->args,
            (std::vector<uint64_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0}));
  EXPECT_EQ(kestro::Utf16(volume.m_szSnapshotPath), u"C:\\");
  EXPECT_EQ(requester.events, std::vector<std::string>{"construct"});
}

TEST_F(Opening, TheStepsRunInOrder) {
  CKestro32 volume(3, 0);
  std::vector<std::string> names;
  for (const auto& call : fake.calls()) {
    if (call.function != "WriteStandardOutput") names.push_back(call.function);
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "requester.construct", "GetVersionExW", "GetModuleHandleW", "GetProcAddress",
                       "GetDiskFreeSpaceExW", "CreateFileW", "DeviceIoControl",
                       "GetVolumeInformationW", "DeviceIoControl", "VirtualAlloc", "ReadFile",
                       "VirtualFree", "CloseHandle", "CreateFileW"}));
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetVolumeInformationW)[0]->args,
            (std::vector<uint64_t>{260, 260}));
}

TEST_F(Opening, DriveThreeIsCInEveryName) {
  CKestro32 volume(3, 0);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetDiskFreeSpaceExW)[0]->name, u"C:\\");
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetVolumeInformationW)[0]->name, u"C:\\");
  EXPECT_EQ(fake.CallsOf(Kernel32Call::CreateFileW)[0]->name, u"\\\\.\\C:");
}

TEST_F(Opening, TheLegacyFamilyMeasuresOnlyFreeSpaceWithALowerCaseRoot) {
  fake.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  fake.version.dwMinorVersion = 10;
  fake.SetFreeSpace(u"c:\\", {1000, 400, 400, 8, 512, 0, 0});
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bWin9x, 1);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_llFreeBytes, 400u);
  EXPECT_EQ(volume.m_llUsedBytes, 600u);
  EXPECT_EQ(fake.CallsOf(Kernel32Call::GetDiskFreeSpaceExW)[0]->name, u"c:\\");
  EXPECT_EQ(fake.CountOf(Kernel32Call::CreateFileW), 0u);
  EXPECT_EQ(requester.events, std::vector<std::string>{"construct"});
}

TEST_F(Opening, AnUnmappedDriveOpensAndPrintsNothing) {
  CKestro32 volume(17, 1);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake.CountOf(Kernel32Call::CreateFileW), 0u);
  EXPECT_TRUE(fake.output.empty());
  EXPECT_EQ(requester.events, std::vector<std::string>{"construct"});
}

TEST_F(Opening, AFailedFirstOpenEndsOpeningAtOnce) {
  fake.Script(Kernel32Call::CreateFileW, Outcome::Failure(ERROR_ACCESS_DENIED));
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_llFreeBytes, 4294967296ull);
  EXPECT_EQ(fake.CountOf(Kernel32Call::CreateFileW), 1u);
  EXPECT_EQ(requester.events, std::vector<std::string>{"construct"});
}

TEST_F(Opening, TheFileSystemNameIsClassifiedWholeAndWithoutCase) {
  const std::pair<std::u16string, BYTE> cases[] = {
      {u"ntfs", FSTYPE_NTFS},     {u"FAT32", FSTYPE_FAT32},  {u"Fat16", FSTYPE_FAT16},
      {u"NTFS5", FSTYPE_NTFS5},   {u"FAT", FSTYPE_FAT16},    {u"FAT12", FSTYPE_UNKNOWN},
      {u"exFAT", FSTYPE_UNKNOWN}, {u"NTFS ", FSTYPE_UNKNOWN}};
  for (const auto& [name, code] : cases) {
    FileSystem(name);
    CKestro32 volume(3, 0);
    EXPECT_EQ(volume.m_nFsType, code) << kestro::ToUtf8(name);
  }
}

TEST_F(Opening, AFailedVolumeQueryLeavesCodeZeroAndSizesByThePartition) {
  fake.Script(Kernel32Call::GetVolumeInformationW, Outcome::Failure(ERROR_UNRECOGNIZED_VOLUME));
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_nFsType, FSTYPE_UNKNOWN);
  EXPECT_EQ(volume.m_llTotalSectors, kPartitionLength / 512 - 1);
}

TEST_F(Opening, FatCountsComeFromTheBootSector) {
  FileSystem(u"FAT32");
  bootSector[32] = 0x00, bootSector[33] = 0x00, bootSector[34] = 0x00, bootSector[35] = 0x80;
  StoreBoot();
  PARTITION_INFORMATION_EX terabyte{};
  terabyte.PartitionLength.QuadPart = 1099511627776ll;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Reply(terabyte));
  CKestro32 large(3, 0);
  EXPECT_EQ(large.m_llTotalSectors, 2147483648ull);
  EXPECT_EQ(large.m_llVolumeSize, 1099511627776ull);

  // Small FAT volumes keep the count in the 16-bit field; 0 in the 32-bit one must not size
  // them at nothing.
  FileSystem(u"FAT");
  std::fill(bootSector.begin() + 32, bootSector.begin() + 36, 0);
  bootSector[19] = 0x00, bootSector[20] = 0x80;
  StoreBoot();
  CKestro32 small(3, 0);
  EXPECT_EQ(small.m_llTotalSectors, 32768u);
  EXPECT_EQ(small.m_llVolumeSize, 32768u * 512);
}

TEST_F(Opening, CountsInLargerSectorsAreSizedInTheLibrarysSectors) {
  bootSector[11] = 0x00, bootSector[12] = 0x10;  // 4096 bytes per sector
  SetBoot64(40, 1000);
  StoreBoot();
  CKestro32 ntfs(3, 0);
  EXPECT_EQ(ntfs.m_llTotalSectors, 8000u);
  EXPECT_EQ(ntfs.m_llVolumeSize, 8000u * 512);
  EXPECT_EQ(ntfs.m_BootParams[1], 0x10) << "the boot sector's own fields are kept";

  FileSystem(u"FAT32");
  bootSector[11] = 0x00, bootSector[12] = 0x04;  // 1024
  bootSector[32] = 0x10, bootSector[33] = 0x27, bootSector[34] = 0, bootSector[35] = 0;
  StoreBoot();
  CKestro32 fat(3, 0);
  EXPECT_EQ(fat.m_llTotalSectors, 20000u);

  // A size no file system is formatted with counts in 512-byte sectors, as before.
  bootSector[11] = 0x00, bootSector[12] = 0x03;  // 768
  StoreBoot();
  CKestro32 odd(3, 0);
  EXPECT_EQ(odd.m_llTotalSectors, 10000u);

  // A claim that overflows when scaled is still bounded by the partition.
  FileSystem(u"NTFS");
  bootSector[11] = 0x00, bootSector[12] = 0x10;
  SetBoot64(40, 1ull << 62);
  StoreBoot();
  CKestro32 huge(3, 0);
  EXPECT_EQ(huge.m_llVolumeSize, kPartitionLength);
}

TEST_F(Opening, ABootSectorClaimingMoreThanThePartitionIsBoundedByIt) {
  SetBoot64(40, 1ull << 40);
  StoreBoot();
  CKestro32 ntfs(3, 0);
  EXPECT_EQ(ntfs.m_bReady, 1);
  EXPECT_EQ(ntfs.m_llTotalSectors, kPartitionLength / 512);
  EXPECT_EQ(ntfs.m_llVolumeSize, kPartitionLength);
  EXPECT_EQ(ntfs.m_BootParams[40 - 11 + 5], 1) << "the boot sector's own claim is kept";

  FileSystem(u"FAT32");
  bootSector[32] = 0xFF, bootSector[33] = 0xFF, bootSector[34] = 0xFF, bootSector[35] = 0xFF;
  StoreBoot();
  CKestro32 fat(3, 0);
  EXPECT_EQ(fat.m_llVolumeSize, kPartitionLength);
}

TEST_F(Opening, OtherFileSystemsAreOneSectorShortOfThePartitionAndNeverNegative) {
  FileSystem(u"NTFS5");
  PARTITION_INFORMATION_EX ex{};
  ex.PartitionLength.QuadPart = 1048576;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Reply(ex));
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_llTotalSectors, 2047u);
  EXPECT_EQ(volume.m_llVolumeSize, 1048064u);

  ex.PartitionLength.QuadPart = 300;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Reply(ex));
  CKestro32 tiny(3, 0);
  EXPECT_EQ(tiny.m_llTotalSectors, 0u);
  EXPECT_EQ(tiny.m_llVolumeSize, 0u);
}

TEST_F(Opening, TheOlderPartitionQueryIsConvertedToTheNewerRecord) {
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Failure(ERROR_INVALID_FUNCTION));
  PARTITION_INFORMATION old{};
  old.StartingOffset.QuadPart = 32256;
  old.PartitionLength.QuadPart = 2048000;
  old.HiddenSectors = 63;
  old.PartitionNumber = 1;
  old.PartitionType = 0x07;
  old.BootIndicator = 1;
  old.RecognizedPartition = 1;
  old.RewritePartition = 1;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO, Outcome::Reply(old));
  CKestro32 volume(3, 0);
  const PARTITION_INFORMATION_EX& ex = volume.m_PartInfoEx;
  EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_MBR);
  EXPECT_EQ(ex.StartingOffset.QuadPart, 32256);
  EXPECT_EQ(ex.PartitionLength.QuadPart, 2048000);
  EXPECT_EQ(ex.PartitionNumber, 1u);
  EXPECT_EQ(ex.RewritePartition, 1);
  EXPECT_EQ(ex.Mbr.PartitionType, 0x07);
  EXPECT_EQ(ex.Mbr.BootIndicator, 1);
  EXPECT_EQ(ex.Mbr.RecognizedPartition, 1);
  EXPECT_EQ(ex.Mbr.HiddenSectors, 63u);
  EXPECT_EQ(volume.m_llPartOffset, 32256u);
  EXPECT_EQ(fake.output,
            Lines({"Before GetPartitionInfoEx\r\n",
                   "IOCTL_DISK_GET_PARTITION_INFO_EX(fResult = 0, cb = 0, lasterror = 1)\r\n",
                   "Before GetPartitionInfo\r\n",
                   "IOCTL_DISK_GET_PARTITION_INFO(fResult = 1, cb = 32, lasterror = 0)\r\n"}));
}

TEST_F(Opening, TheNewerQueryLeavesTheOlderRecordAlone) {
  CKestro32 volume(3, 0);
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 2u);
  for (size_t i = 0; i < sizeof volume.m_PartInfo; ++i) {
    ASSERT_EQ(reinterpret_cast<const BYTE*>(&volume.m_PartInfo)[i], 0);
  }
}

class PartitionCascade : public Opening {
 protected:
  void SetUp() override {
    Opening::SetUp();
    fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Failure(ERROR_INVALID_FUNCTION));
    fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO, Outcome::Failure(ERROR_INVALID_FUNCTION));
  }
};

TEST_F(PartitionCascade, TheDiskExtentAndLayoutPlaceTheVolume) {
  VOLUME_DISK_EXTENTS extents{};
  extents.NumberOfDiskExtents = 1;
  extents.Extents[0].DiskNumber = 4;
  extents.Extents[0].StartingOffset.QuadPart = 7340032;
  extents.Extents[0].ExtentLength.QuadPart = 33554432;
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Reply(extents));
  DRIVE_LAYOUT_INFORMATION_EX layout{};
  layout.PartitionStyle = PARTITION_STYLE_GPT;
  fake.SetIoctlReply(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, Outcome::Reply(layout));
  fake.AddDevice(u"\\\\.\\PHYSICALDRIVE4", {}, win32::testing::DeviceKind::kDisk);
  FileSystem(u"exFAT");

  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_PartInfoEx.PartitionStyle, PARTITION_STYLE_GPT);
  EXPECT_EQ(volume.m_PartInfoEx.StartingOffset.QuadPart, 7340032);
  EXPECT_EQ(volume.m_PartInfoEx.PartitionLength.QuadPart, 33554432);
  EXPECT_EQ(volume.m_llPartOffset, 7340032u);
  EXPECT_EQ(volume.m_llTotalSectors, 33554432u / 512 - 1);
  EXPECT_EQ(fake.output[4], "GetPartitionInfo failed(1)\r\n");
  EXPECT_EQ(fake.output.size(), 5u);
  EXPECT_EQ(OpenedNames()[1], u"\\\\.\\PHYSICALDRIVE4");
}

TEST_F(PartitionCascade, WhenEveryQueryFailsFourLinesAppearAndTheDeviceIsStillReopened) {
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Failure(ERROR_NOT_SUPPORTED));
  requester.startResult = 0;
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(fake.output,
            Lines({"Before GetPartitionInfoEx\r\n",
                   "IOCTL_DISK_GET_PARTITION_INFO_EX(fResult = 0, cb = 0, lasterror = 1)\r\n",
                   "Before GetPartitionInfo\r\n",
                   "IOCTL_DISK_GET_PARTITION_INFO(fResult = 0, cb = 0, lasterror = 1)\r\n",
                   "GetPartitionInfo failed(1)\r\n",
                   "GetDiskNumber IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS error(50)!\r\n",
                   "GetDiskNumber error!\r\n", "GetPartitionInfo3 failed(50)\r\n"}));
  EXPECT_EQ(volume.m_nFsType, FSTYPE_NTFS);
  EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), 1u);
  EXPECT_EQ(requester.events, (std::vector<std::string>{"construct", "complete", "start"}));
  EXPECT_EQ(volume.m_bVssActive, 1);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);  // the fake has no snapshot device
}

TEST_F(PartitionCascade, AVolumeOnSeveralDisksAsksForDiskMinusOne) {
  VOLUME_DISK_EXTENTS extents{};
  extents.NumberOfDiskExtents = 2;
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Reply(extents));
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(OpenedNames()[1], u"\\\\.\\PHYSICALDRIVE-1");
  EXPECT_EQ(fake.output[5], "GetDriveLayout hDrive error(2)!\r\n");
  EXPECT_EQ(fake.output[6], "GetDriveLayout error!\r\n");
  EXPECT_EQ(fake.output[7], "GetPartitionInfo3 failed(2)\r\n");
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
}

TEST_F(Opening, AFailedGeometryQueryStillReopensAndStartsTheSnapshot) {
  fake.SetIoctlReply(IOCTL_DISK_GET_DRIVE_GEOMETRY, Outcome::Failure(ERROR_NOT_READY));
  requester.startResult = 0;
  requester.startPath = u"\\\\?\\GLOBALROOT\\Device\\Shadow1\\";
  fake.AddDevice(u"\\\\?\\GLOBALROOT\\Device\\Shadow1", bootSector,
                 win32::testing::DeviceKind::kVolume);
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_bVssActive, 1);
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenedNames()[1], u"\\\\?\\GLOBALROOT\\Device\\Shadow1");
  EXPECT_EQ(fake.CallsOf(Kernel32Call::CreateFileW)[1]->args[3], FILE_FLAG_NO_BUFFERING);
  EXPECT_EQ(volume.m_nFsType, FSTYPE_UNKNOWN);
  EXPECT_EQ(fake.CountOf(Kernel32Call::GetVolumeInformationW), 0u);
  EXPECT_TRUE(fake.output.empty());
}

TEST_F(Opening, AnUnreadableBootSectorFailsAfterPlacingThePartition) {
  fake.Script(Kernel32Call::ReadFile, Outcome::Failure(ERROR_CRC));
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_llPartOffset, kPartitionOffset);
  EXPECT_EQ(volume.m_llVolumeSize, 0u);
  EXPECT_EQ(volume.m_BootParams[0], 0);
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 1u);
}

TEST_F(Opening, ASnapshotThatCannotBeOpenedLeavesNoHandleButKeepsTheSession) {
  requester.startResult = 0;
  {
    CKestro32 volume(3, 1);
    EXPECT_EQ(volume.m_bReady, 0);
    EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
    EXPECT_EQ(volume.m_bVssActive, 1);
    requester.events.clear();
  }
  EXPECT_EQ(requester.events, (std::vector<std::string>{"complete", "destroy"}));
}

TEST_F(Opening, AFailedSnapshotStartOpensTheLiveVolume) {
  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_EQ(OpenedNames()[1], u"\\\\.\\C:");
  EXPECT_EQ(fake.CallsOf(Kernel32Call::CreateFileW)[1]->args[3], 0u);
}

TEST_F(Opening, AFailedReopenClearsReadiness) {
  fake.Script(Kernel32Call::CreateFileW, Outcome::Success());
  fake.Script(Kernel32Call::CreateFileW, Outcome::Failure(ERROR_SHARING_VIOLATION));
  CKestro32 volume(3, 0);
  EXPECT_EQ(volume.m_bReady, 0);
  EXPECT_EQ(volume.m_hDisk, INVALID_HANDLE_VALUE);
}

#if KESTRO_HAVE_ALLOCATION_LOG
TEST_F(Opening, AnAllocationFailureLeavesNoHandleOpen) {
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, Outcome::Failure(ERROR_INVALID_FUNCTION));
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO, Outcome::Failure(ERROR_INVALID_FUNCTION));
  kestro::testing::AllocationLog allocations;
  allocations.FailAllocation(512);
  EXPECT_THROW(CKestro32 volume(3, 0), std::bad_alloc);
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
  EXPECT_EQ(requester.events, (std::vector<std::string>{"construct", "destroy"}));
}
#endif

}  // namespace
