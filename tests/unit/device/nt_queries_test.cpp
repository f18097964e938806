// The NT volume and disk queries over the fake backend: requests, records, lines, and the two
// growing-buffer loops with their ceiling.
#include <Kestro32.h>

#include <cstring>

#include <allocation_log.h>
#include <fake_world.h>

using namespace win32;
using win32::testing::Outcome;

namespace {

class NtQueries : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override {
    std::vector<uint8_t> sectors(2048);
    for (size_t i = 0; i < sectors.size(); ++i) sectors[i] = static_cast<uint8_t>(i / 512 + i);
    volume.m_hDisk = OpenDevice(u"\\\\.\\C:", sectors);
    fake.AddDevice(u"\\\\.\\PHYSICALDRIVE0", {}, win32::testing::DeviceKind::kDisk);
    fake.ClearCalls();
  }

  // Answers the layout request with ERROR_INSUFFICIENT_BUFFER below `needed` bytes.
  void LayoutNeeds(DWORD needed) {
    fake.intercept = [needed](const win32::testing::Call& call) -> std::optional<Outcome> {
      if (call.kind != Kernel32Call::DeviceIoControl ||
          call.args[0] != IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
        return std::nullopt;
      }
      if (call.args[2] < needed) return Outcome::Failure(ERROR_INSUFFICIENT_BUFFER);
      DRIVE_LAYOUT_INFORMATION_EX layout{};
      layout.PartitionStyle = PARTITION_STYLE_MBR;
      layout.PartitionCount = 4;
      return Outcome::Reply(layout);
    };
  }

  std::vector<uint64_t> RequestSizes() const {
    std::vector<uint64_t> sizes;
    for (const auto* call : fake.CallsOf(Kernel32Call::DeviceIoControl))
      sizes.push_back(call->args[2]);
    return sizes;
  }

  CKestro32 volume;
};

TEST_F(NtQueries, WithoutADeviceNothingIsSentAndOnlyTwoQueriesSaySo) {
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  DISK_GEOMETRY geometry;
  PARTITION_INFORMATION info;
  PARTITION_INFORMATION_EX ex;
  SET_PARTITION_INFORMATION set{};
  EXPECT_EQ(volume.GetGeometry(&geometry), 0);
  EXPECT_EQ(volume.LockNTVolume(), 0);
  EXPECT_EQ(volume.UnlockNTVolume(), 0);
  EXPECT_EQ(volume.SetPartitionInfo(&set), 0);
  EXPECT_EQ(volume.GetPartitionInfo(&info), 0);
  EXPECT_EQ(volume.GetDiskInfo(), 0);
  EXPECT_TRUE(fake.output.empty());
  EXPECT_EQ(volume.GetPartitionInfoEx(&ex), 0);
  int disk = 77;
  ULONGLONG start = 88, length = 99;
  EXPECT_EQ(volume.GetDiskNumber(disk, start, length), 0);
  EXPECT_EQ(disk, 77);
  EXPECT_EQ(start, 88u);
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(fake.output,
            (std::vector<std::string>{"m_hDisk == (HANDLE) INVALID_HANDLE_VALUE ??\r\n",
                                      "GetDiskNumber m_hDisk == INVALID_HANDLE_VALUE!\r\n"}));
  EXPECT_EQ(fake.CountOf(Kernel32Call::DeviceIoControl), 0u);
}

TEST_F(NtQueries, FixedRequestsUseThePublishedCodesAndSizes) {
  fake.intercept = [](const win32::testing::Call&) {
    return std::optional<Outcome>(Outcome::Success());
  };
  DISK_GEOMETRY geometry;
  PARTITION_INFORMATION info;
  PARTITION_INFORMATION_EX ex;
  SET_PARTITION_INFORMATION set{0x0C};
  volume.GetGeometry(&geometry);
  volume.LockNTVolume();
  volume.UnlockNTVolume();
  volume.SetPartitionInfo(&set);
  volume.GetPartitionInfo(&info);
  volume.GetPartitionInfoEx(&ex);
  std::vector<std::vector<uint64_t>> sent;
  for (const auto* call : fake.CallsOf(Kernel32Call::DeviceIoControl)) sent.push_back(call->args);
  EXPECT_EQ(sent, (std::vector<std::vector<uint64_t>>{{0x70000, 0, 24},
                                                      {0x90018, 0, 0},
                                                      {0x9001C, 0, 0},
                                                      {0x7C008, 1, 0},
                                                      {0x74004, 0, 32},
                                                      {0x70048, 0, 144}}));
  EXPECT_EQ(fake.CallsOf(Kernel32Call::DeviceIoControl)[3]->data, std::vector<uint8_t>{0x0C});
}

TEST_F(NtQueries, PartitionQueriesPrintTheirResultEitherWay) {
  PARTITION_INFORMATION info{};
  info.PartitionNumber = 3;
  fake.SetIoctlReply(IOCTL_DISK_GET_PARTITION_INFO, Outcome::Reply(info));
  PARTITION_INFORMATION out{};
  EXPECT_EQ(volume.GetPartitionInfo(&out), 1);
  EXPECT_EQ(out.PartitionNumber, 3u);
  fake.Script(Kernel32Call::DeviceIoControl, Outcome::Failure(ERROR_NOT_READY));
  PARTITION_INFORMATION_EX ex{};
  EXPECT_EQ(volume.GetPartitionInfoEx(&ex), 0);
  EXPECT_EQ(fake.output,
            (std::vector<std::string>{
                "IOCTL_DISK_GET_PARTITION_INFO(fResult = 1, cb = 32, lasterror = 0)\r\n",
                "IOCTL_DISK_GET_PARTITION_INFO_EX(fResult = 0, cb = 0, lasterror = 21)\r\n"}));
}

TEST_F(NtQueries, BootParametersComeFromTheSectorAtTheDevicePointer) {
  ASSERT_NE(volume.GetDiskInfo(), 0);
  EXPECT_EQ(volume.m_BootParams[0], static_cast<BYTE>(11));
  EXPECT_EQ(volume.m_BootParams[72], static_cast<BYTE>(83));
  ASSERT_NE(volume.GetDiskInfo(), 0);
  EXPECT_EQ(volume.m_BootParams[0], static_cast<BYTE>(1 + 11));
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualAlloc), 2u);
  EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), 2u);
  fake.Script(Kernel32Call::ReadFile, Outcome::Failure(ERROR_CRC));
  EXPECT_EQ(volume.GetDiskInfo(), 0);
  EXPECT_EQ(volume.m_BootParams[0], static_cast<BYTE>(12));
  EXPECT_EQ(fake.LiveAllocationCount(), 0u);
}

#if KESTRO_HAVE_ALLOCATION_LOG
TEST_F(NtQueries, ALayoutOfSixHundredBytesIsReadIntoTheSecondBuffer) {
  LayoutNeeds(600);
  kestro::testing::AllocationLog allocations;
  DRIVE_LAYOUT_INFORMATION_EX* layout = nullptr;
  EXPECT_EQ(volume.GetDriveLayout(0, &layout), 1);
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->PartitionCount, 4u);
  EXPECT_EQ(RequestSizes(), (std::vector<uint64_t>{512, 1024}));
  const std::vector<std::string> events = allocations.Events(512);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3),
            (std::vector<std::string>{"new 512", "delete 512", "new 1024"}));
  EXPECT_EQ(fake.CallsOf(Kernel32Call::CreateFileW)[0]->name, u"\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(fake.OpenHandleCount(), 1u);  // only the volume: the disk handle is closed
  ::operator delete(layout);
}
#endif

TEST_F(NtQueries, TheLayoutLoopStopsAtItsCeiling) {
  LayoutNeeds(0xFFFFFFFFu);
  DRIVE_LAYOUT_INFORMATION_EX* layout = nullptr;
  EXPECT_EQ(volume.GetDriveLayout(0, &layout), 0);
  EXPECT_NE(layout, nullptr);
  const std::vector<uint64_t> sizes = RequestSizes();
  ASSERT_EQ(sizes.size(), 16u);
  EXPECT_EQ(sizes.back(), 16u << 20);
  EXPECT_EQ(fake.output.back(), "GetDriveLayout IOCTL_DISK_GET_DRIVE_LAYOUT_EX error(122)!\r\n");
  EXPECT_EQ(fake.OpenHandleCount(), 1u);
  ::operator delete(layout);
}

#if KESTRO_HAVE_ALLOCATION_LOG
TEST_F(NtQueries, TheLayoutQueryClosesTheDiskWhenAllocationFails) {
  LayoutNeeds(4096);
  kestro::testing::AllocationLog allocations;
  allocations.FailAllocation(1024);
  DRIVE_LAYOUT_INFORMATION_EX* layout = nullptr;
  EXPECT_THROW(volume.GetDriveLayout(0, &layout), std::bad_alloc);
  EXPECT_EQ(layout, nullptr);
  EXPECT_EQ(fake.OpenHandleCount(), 1u);
}
#endif

TEST_F(NtQueries, AMissingDiskLeavesTheCallersPointerAlone) {
  auto* sentinel = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(0x1234);
  DRIVE_LAYOUT_INFORMATION_EX* layout = sentinel;
  EXPECT_EQ(volume.GetDriveLayout(9, &layout), 0);
  EXPECT_EQ(layout, sentinel);
  EXPECT_EQ(fake.output, std::vector<std::string>{"GetDriveLayout hDrive error(2)!\r\n"});
}

TEST_F(NtQueries, DiskNumbersComeFromExactlyOneExtent) {
  VOLUME_DISK_EXTENTS extents{};
  extents.NumberOfDiskExtents = 1;
  extents.Extents[0] = DISK_EXTENT{2, {}, {}};
  extents.Extents[0].StartingOffset.QuadPart = 1048576;
  extents.Extents[0].ExtentLength.QuadPart = 4096;
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Reply(extents));
  int disk = 0;
  ULONGLONG start = 0, length = 0;
  EXPECT_EQ(volume.GetDiskNumber(disk, start, length), 1);
  EXPECT_EQ(disk, 2);
  EXPECT_EQ(start, 1048576u);
  EXPECT_EQ(length, 4096u);

  for (DWORD count : {0u, 2u}) {
    extents.NumberOfDiskExtents = count;
    fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Reply(extents));
    length = 55;
    EXPECT_EQ(volume.GetDiskNumber(disk, start, length), 1) << count;
    EXPECT_EQ(disk, -1);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(length, 55u);
  }
  EXPECT_TRUE(fake.output.empty());
}

TEST_F(NtQueries, TheExtentsLoopDoublesOnMoreDataUpToItsCeiling) {
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Failure(ERROR_MORE_DATA));
  int disk = 5;
  ULONGLONG start = 5, length = 5;
  EXPECT_EQ(volume.GetDiskNumber(disk, start, length), 0);
  EXPECT_EQ(RequestSizes().size(), 16u);
  EXPECT_EQ(disk, -1);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(fake.output, std::vector<std::string>{
                             "GetDiskNumber IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS error(234)!\r\n"});
}

TEST_F(NtQueries, PartitionInfo3ChangesExactlyThreeFieldsAndReturnsOne) {
  VOLUME_DISK_EXTENTS extents{};
  extents.NumberOfDiskExtents = 1;
  extents.Extents[0].StartingOffset.QuadPart = 512;
  extents.Extents[0].ExtentLength.QuadPart = 1024;
  fake.SetIoctlReply(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, Outcome::Reply(extents));
  DRIVE_LAYOUT_INFORMATION_EX layout{};
  layout.PartitionStyle = PARTITION_STYLE_GPT;
  Outcome reply = Outcome::Reply(layout);
  reply.result = 7;
  fake.SetIoctlReply(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, reply);
  std::memset(&volume.m_PartInfoEx, 0xAB, sizeof volume.m_PartInfoEx);
  PARTITION_INFORMATION_EX expected = volume.m_PartInfoEx;
  expected.PartitionStyle = PARTITION_STYLE_GPT;
  expected.StartingOffset.QuadPart = 512;
  expected.PartitionLength.QuadPart = 1024;
  EXPECT_EQ(volume.GetPartitionInfo3(), 1);
  // Byte for byte, padding included: the record is the one the device answered, copied whole.
  // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
  EXPECT_EQ(0, std::memcmp(&volume.m_PartInfoEx, &expected, sizeof expected));
}

}  // namespace
