// The system's requester where no shadow-copy service runs (Wine): a start fails cleanly with
// the service's result and holds nothing, and a volume asked to open through a snapshot is read
// live.
#include <Kestro32.h>

#include <fake_backend.h>
#include <gtest/gtest.h>

using namespace win32;

namespace {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(WTEXT("ntdll.dll"));
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Asked before any test stands the fake backend in the system's place.
const bool kUnderWine = UnderWine();

TEST(SystemRequester, WithoutAShadowCopyServiceAStartFailsAndHoldsNothing) {
  if (!kUnderWine) GTEST_SKIP() << "a real shadow-copy service may answer outside Wine";
  CShadrel requester;
  WCHAR root[] = WTEXT("C:\\");
  WCHAR path[MAX_PATH] = {};
  int length = 3;
  EXPECT_LT(requester.VssStartBackupNoWriter(root, path, length), 0);
  EXPECT_EQ(path[0], 0);
  EXPECT_EQ(requester.m_pSnapshot, nullptr);
  EXPECT_EQ(requester.VssBackupComplete(), 0);
}

TEST(SystemRequester, AVolumeOpenedThroughASnapshotIsReadLive) {
  if (!kUnderWine) GTEST_SKIP() << "a real shadow-copy service may answer outside Wine";
  win32::testing::FakeBackend fake;
  ScopedBackend useFake(fake);
  std::vector<uint8_t> bytes(4096, 0);
  bytes[40] = 7;  // the NTFS boot sector's sector count
  bytes[3000] = 0x5A;
  fake.AddDevice(u"\\\\.\\C:", bytes, win32::testing::DeviceKind::kVolume);
  fake.SetFreeSpace(u"C:\\", {4096, 0, 1, 8, 512, 0, 0});
  fake.SetVolumeInfo(u"C:\\", {u"NTFS", u"DATA", 0x1234});
  DISK_GEOMETRY geometry{};
  geometry.BytesPerSector = 512;
  fake.SetIoctlReply(IOCTL_DISK_GET_DRIVE_GEOMETRY, win32::testing::Outcome::Reply(geometry));
  PARTITION_INFORMATION_EX partition{};
  partition.PartitionLength.QuadPart = 4096;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO_EX, win32::testing::Outcome::Reply(partition));

  CKestro32 volume(3, 1);
  EXPECT_EQ(volume.m_bReady, 1);
  EXPECT_EQ(volume.m_bVssActive, 0);
  volume.Initial(4096);
  BYTE sector[512] = {};
  DWORD read = 0;
  ASSERT_TRUE(volume.SeekNT(2560, FILE_BEGIN));
  ASSERT_EQ(volume.ReadNT(sector, sizeof sector, &read), 0u);
  EXPECT_EQ(sector[440], 0x5A);
}

}  // namespace
