// Disk and volume control codes over real image files and loop devices, answered as Windows
// answers them: records, byte counts, and the errors for short buffers and unsuitable handles.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <cstring>
#include <vector>

#include <fixtures.h>
#include <gtest/gtest.h>
#include <open_shared.h>

#include "ioctl/volume_extents.h"

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kSector = 512;

// A primary FAT32 partition, an extended partition holding two logical ones.
const char kMbrScript[] =
    "label: dos\nlabel-id: 0x12345678\n"
    "start=2048, size=8192, type=c, bootable\n"
    "start=12288, size=20480, type=5\n"
    "start=14336, size=4096, type=7\n"
    "start=20480, size=6144, type=83\n";

const char kGptScript[] =
    "label: gpt\nlabel-id: 6A3B1D2C-0F4E-4A5B-8C7D-9E0F1A2B3C4D\n"
    "start=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, "
    "uuid=11111111-2222-3333-4444-555555555555, name=\"Data\", attrs=\"RequiredPartition "
    "GUID:60\"\n"
    "start=10240, size=8192, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=\"Linux\"\n";

struct Answer {
  BOOL ok = FALSE;
  DWORD bytes = 0;
  DWORD error = 0;
};

class DeviceControl : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseAll();
    kestro::ClearMappedDrives();
  }

  // A loop device must not be detached while a handle still holds one of its partitions.
  void CloseAll() {
    for (HANDLE h : handles_) CloseHandle(h);
    handles_.clear();
  }

  HANDLE Open(const WCHAR* name, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    HANDLE h = OpenShared(name, 0, access);
    if (h != INVALID_HANDLE_VALUE) handles_.push_back(h);
    return h;
  }

  static Answer Ask(HANDLE h, DWORD code, void* out, DWORD outSize, void* in = nullptr,
                    DWORD inSize = 0) {
    Answer answer;
    answer.bytes = 0xDEAD;
    SetLastError(0);
    answer.ok = DeviceIoControl(h, code, in, inSize, out, outSize, &answer.bytes, nullptr);
    answer.error = GetLastError();
    return answer;
  }

  std::string Disk(const std::string& script, uint64_t size = 16 * kMiB) {
    const std::string path = dir.File("disk.img");
    CreateSparseFile(path, size);
    PartitionImage(path, script);
    return path;
  }

  std::vector<uint8_t> Layout(HANDLE h, DWORD size, Answer* answer) {
    std::vector<uint8_t> buffer(size);
    *answer = Ask(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer.data(), size);
    return buffer;
  }

  static PARTITION_INFORMATION_EX EntryOf(const std::vector<uint8_t>& layout, size_t index) {
    PARTITION_INFORMATION_EX entry;
    std::memcpy(&entry, layout.data() + 48 + index * sizeof entry, sizeof entry);
    return entry;
  }

  TempDir dir;
  std::vector<HANDLE> handles_;
};

TEST_F(DeviceControl, AnImageFileHasTheGeometryOfAVirtualDisk) {
  const std::string image = dir.File("volume.img");
  CreateSparseFile(image, 100 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('C', image));
  HANDLE h = Open(WTEXT("\\\\.\\C:"));
  DISK_GEOMETRY geometry{};
  Answer answer = Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof geometry);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.bytes, 24u);
  EXPECT_EQ(geometry.MediaType, FixedMedia);
  EXPECT_EQ(geometry.BytesPerSector, 512u);
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(geometry.Cylinders.QuadPart, static_cast<LONGLONG>(100 * kMiB / (255 * 63 * 512)));

  answer = Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof geometry - 1);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(answer.bytes, 0u);

  GET_LENGTH_INFORMATION length{};
  answer = Ask(h, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(length.Length.QuadPart, static_cast<LONGLONG>(100 * kMiB));
}

TEST_F(DeviceControl, AnMbrDiskListsPrimarySlotsThenEachExtendedBootRecord) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  ASSERT_TRUE(kestro::MapDrive('E', Disk(kMbrScript), 5));
  HANDLE h = Open(WTEXT("\\\\.\\E:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  Answer answer;
  Layout(h, 48 + 144 * 12 - 1, &answer);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);
  const auto layout = Layout(h, 4096, &answer);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.bytes, 48u + 144 * 12);
  DRIVE_LAYOUT_INFORMATION_EX header;
  std::memcpy(&header, layout.data(), 48);
  EXPECT_EQ(header.PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_MBR));
  ASSERT_EQ(header.PartitionCount, 12u);  // the master record and two extended boot records
  EXPECT_EQ(header.Mbr.Signature, 0x12345678u);

  const BYTE types[12] = {0x0C, 0x05, 0, 0, 0x07, 0x05, 0, 0, 0x83, 0, 0, 0};
  const DWORD numbers[12] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  for (size_t i = 0; i < 12; ++i) {
    const auto entry = EntryOf(layout, i);
    EXPECT_EQ(entry.Mbr.PartitionType, types[i]) << "slot " << i;
    EXPECT_EQ(entry.PartitionNumber, numbers[i]) << "slot " << i;
    if (types[i] == 0) {
      EXPECT_EQ(entry.StartingOffset.QuadPart, 0) << "slot " << i;
    }
  }
  const auto primary = EntryOf(layout, 0);
  EXPECT_EQ(primary.StartingOffset.QuadPart, static_cast<LONGLONG>(2048 * kSector));
  EXPECT_EQ(primary.PartitionLength.QuadPart, static_cast<LONGLONG>(8192 * kSector));
  EXPECT_TRUE(primary.Mbr.BootIndicator);
  EXPECT_TRUE(primary.Mbr.RecognizedPartition);
  EXPECT_EQ(primary.Mbr.HiddenSectors, 2048u);
  // The first logical partition counts from the first extended boot record, at the container's
  // start; the second from the record the link entry points to.
  EXPECT_EQ(EntryOf(layout, 4).Mbr.HiddenSectors, 14336u - 12288u);
  const auto link = EntryOf(layout, 5);
  const auto last = EntryOf(layout, 8);
  EXPECT_EQ(last.StartingOffset.QuadPart, static_cast<LONGLONG>(20480 * kSector));
  EXPECT_EQ(static_cast<uint64_t>(link.StartingOffset.QuadPart) / kSector + last.Mbr.HiddenSectors,
            20480u);
  EXPECT_FALSE(last.Mbr.RecognizedPartition);

  // The volume itself is the logical partition Windows numbers 2.
  PARTITION_INFORMATION_EX ex{};
  answer = Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(answer.bytes, 144u);
  EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_MBR);
  EXPECT_EQ(ex.StartingOffset.QuadPart, static_cast<LONGLONG>(14336 * kSector));
  EXPECT_EQ(ex.PartitionLength.QuadPart, static_cast<LONGLONG>(4096 * kSector));
  EXPECT_EQ(ex.PartitionNumber, 2u);
  EXPECT_EQ(ex.Mbr.PartitionType, 0x07);
  PARTITION_INFORMATION old{};
  answer = Ask(h, IOCTL_DISK_GET_PARTITION_INFO, &old, sizeof old);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(answer.bytes, 32u);
  EXPECT_EQ(old.StartingOffset.QuadPart, ex.StartingOffset.QuadPart);
  EXPECT_EQ(old.HiddenSectors, 2048u);
  EXPECT_EQ(old.PartitionNumber, 2u);
  EXPECT_TRUE(old.RecognizedPartition);
}

TEST_F(DeviceControl, AGptDiskListsItsEntriesAndRefusesTheOlderPartitionQuery) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Disk(kGptScript);
  const std::string dump = RunCommand("sfdisk --dump " + ShellQuote(disk)).output;
  const uint64_t firstLba = std::stoull(dump.substr(dump.find("first-lba:") + 10));
  const uint64_t lastLba = std::stoull(dump.substr(dump.find("last-lba:") + 9));
  ASSERT_TRUE(kestro::MapDrive('G', disk, 1));
  HANDLE h = Open(WTEXT("\\\\.\\G:"));

  Answer answer;
  const auto layout = Layout(h, 1024, &answer);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.bytes, 48u + 144 * 2);
  DRIVE_LAYOUT_INFORMATION_EX header;
  std::memcpy(&header, layout.data(), 48);
  EXPECT_EQ(header.PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_GPT));
  EXPECT_EQ(header.PartitionCount, 2u);
  EXPECT_EQ(header.Gpt.DiskId.Data1, 0x6A3B1D2Cu);
  EXPECT_EQ(header.Gpt.DiskId.Data4[7], 0x4D);
  EXPECT_EQ(header.Gpt.StartingUsableOffset.QuadPart, static_cast<LONGLONG>(firstLba * kSector));
  EXPECT_EQ(header.Gpt.UsableLength.QuadPart,
            static_cast<LONGLONG>((lastLba - firstLba + 1) * kSector));
  EXPECT_EQ(header.Gpt.MaxPartitionCount, 128u);

  const auto data = EntryOf(layout, 0);
  EXPECT_EQ(data.PartitionNumber, 1u);
  EXPECT_EQ(data.Gpt.PartitionType.Data1, 0xEBD0A0A2u);
  EXPECT_EQ(data.Gpt.PartitionType.Data2, 0xB9E5);
  EXPECT_EQ(data.Gpt.PartitionType.Data3, 0x4433);
  const BYTE tail[8] = {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  EXPECT_EQ(std::memcmp(data.Gpt.PartitionType.Data4, tail, 8), 0);
  EXPECT_EQ(data.Gpt.PartitionId.Data1, 0x11111111u);
  EXPECT_EQ(data.Gpt.Attributes, (DWORD64{1} << 60) | 1);
  EXPECT_EQ(std::u16string(data.Gpt.Name), u"Data");
  EXPECT_EQ(EntryOf(layout, 1).PartitionNumber, 2u);
  EXPECT_EQ(std::u16string(EntryOf(layout, 1).Gpt.Name), u"Linux");

  PARTITION_INFORMATION_EX ex{};
  ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok);
  EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_GPT);
  EXPECT_EQ(ex.StartingOffset.QuadPart, static_cast<LONGLONG>(2048 * kSector));
  EXPECT_EQ(ex.Gpt.PartitionId.Data1, 0x11111111u);
  PARTITION_INFORMATION old{};
  answer = Ask(h, IOCTL_DISK_GET_PARTITION_INFO, &old, sizeof old);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
  SET_PARTITION_INFORMATION type{0x07};
  answer = Ask(h, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, sizeof type);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
}

TEST_F(DeviceControl, AVolumeWithoutAPartitionTableIsOneWholeDiskPartition) {
  const std::string image = dir.File("volume.img");
  CreateSparseFile(image, 8 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('F', image));
  HANDLE h = Open(WTEXT("\\\\.\\F:"));
  PARTITION_INFORMATION_EX ex{};
  ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok);
  EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_MBR);
  EXPECT_EQ(ex.StartingOffset.QuadPart, 0);
  EXPECT_EQ(ex.PartitionLength.QuadPart, static_cast<LONGLONG>(8 * kMiB));
  EXPECT_EQ(ex.PartitionNumber, 1u);
  EXPECT_EQ(ex.Mbr.PartitionType, 0x04);
  EXPECT_TRUE(ex.Mbr.RecognizedPartition);
  EXPECT_EQ(ex.Mbr.HiddenSectors, 0u);

  Answer answer;
  const auto layout = Layout(h, 512, &answer);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(answer.bytes, 48u + 144);
  DRIVE_LAYOUT_INFORMATION_EX header;
  std::memcpy(&header, layout.data(), 48);
  EXPECT_EQ(header.PartitionCount, 1u);
  EXPECT_EQ(header.Mbr.Signature, 1u);
  // There is no table entry whose type could change.
  SET_PARTITION_INFORMATION type{0x07};
  answer = Ask(h, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, sizeof type);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
}

TEST_F(DeviceControl, DiskExtentsPlaceTheVolumeOnItsNumberedDisk) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Disk(kMbrScript);
  ASSERT_TRUE(kestro::MapPhysicalDrive(4, disk));
  ASSERT_TRUE(kestro::MapDrive('E', disk, 6));
  HANDLE h = Open(WTEXT("\\\\.\\E:"));
  std::vector<uint8_t> buffer(64, 0xEE);
  Answer answer = Ask(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer.data(), 31);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_PARAMETER);
  answer = Ask(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer.data(), 32);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.bytes, 32u);
  VOLUME_DISK_EXTENTS extents;
  std::memcpy(&extents, buffer.data(), sizeof extents);
  EXPECT_EQ(extents.NumberOfDiskExtents, 1u);
  EXPECT_EQ(extents.Extents[0].DiskNumber, 4u);
  EXPECT_EQ(extents.Extents[0].StartingOffset.QuadPart, static_cast<LONGLONG>(20480 * kSector));
  EXPECT_EQ(extents.Extents[0].ExtentLength.QuadPart, static_cast<LONGLONG>(6144 * kSector));

  // The disk the extent names answers for the same disk.
  HANDLE d = Open(WTEXT("\\\\.\\PhysicalDrive4"));
  ASSERT_NE(d, INVALID_HANDLE_VALUE);
  answer = Ask(d, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer.data(), 64);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
  const auto layout = Layout(d, 4096, &answer);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(EntryOf(layout, 8).StartingOffset.QuadPart, static_cast<LONGLONG>(20480 * kSector));
}

TEST_F(DeviceControl, TooSmallAnExtentBufferGetsTheCountAndMoreData) {
  DISK_EXTENT extents[3] = {};
  for (DWORD i = 0; i < 3; ++i) {
    extents[i].DiskNumber = i;
    extents[i].StartingOffset.QuadPart = 100 * (i + 1);
  }
  std::vector<uint8_t> buffer(8 + 24 * 2);
  kestro::posix::ControlBuffer output{buffer.data(), static_cast<DWORD>(buffer.size())};
  EXPECT_FALSE(kestro::posix::PutDiskExtents(extents, output));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  VOLUME_DISK_EXTENTS head;
  std::memcpy(&head, buffer.data(), sizeof head);
  EXPECT_EQ(head.NumberOfDiskExtents, 3u);
  EXPECT_EQ(head.Extents[0].StartingOffset.QuadPart, 100);
  EXPECT_EQ(output.written, 8u + 24 * 2);
  buffer.resize(8 + 24 * 3);
  output = kestro::posix::ControlBuffer{buffer.data(), static_cast<DWORD>(buffer.size())};
  EXPECT_TRUE(kestro::posix::PutDiskExtents(extents, output));
  EXPECT_EQ(output.written, 32u + 2 * 24);
}

TEST_F(DeviceControl, ADiskHandleStandsForTheWholeDisk) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  ASSERT_TRUE(kestro::MapPhysicalDrive(2, Disk(kMbrScript)));
  HANDLE h = Open(WTEXT("\\\\.\\PHYSICALDRIVE2"));
  PARTITION_INFORMATION_EX ex{};
  ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok);
  EXPECT_EQ(ex.StartingOffset.QuadPart, 0);
  EXPECT_EQ(ex.PartitionLength.QuadPart, static_cast<LONGLONG>(16 * kMiB));
  EXPECT_EQ(ex.PartitionNumber, 0u);
  EXPECT_EQ(ex.Mbr.PartitionType, 0);
  EXPECT_FALSE(ex.Mbr.RecognizedPartition);
  SET_PARTITION_INFORMATION type{0x07};
  const Answer answer = Ask(h, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, sizeof type);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
}

TEST_F(DeviceControl, SettingThePartitionTypeRewritesOnlyItsSlot) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string disk = Disk(kMbrScript);
  const auto before = ReadBytes(disk, 0, 16 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('E', disk, 1));
  ASSERT_TRUE(kestro::MapDrive('H', disk, 6));
  SET_PARTITION_INFORMATION type{0x1C};
  ASSERT_TRUE(
      Ask(Open(WTEXT("\\\\.\\E:")), IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, 1).ok);
  type.PartitionType = 0x8E;
  HANDLE logical = Open(WTEXT("\\\\.\\H:"));
  ASSERT_TRUE(Ask(logical, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, 1).ok);

  // The primary entry lives in the master boot record, the logical one in its own extended boot
  // record; nothing else changed.
  auto expected = before;
  expected[446 + 4] = 0x1C;
  expected[18432 * kSector + 446 + 4] = 0x8E;
  EXPECT_TRUE(ReadBytes(disk, 0, 16 * kMiB) == expected);
  PARTITION_INFORMATION_EX ex{};
  ASSERT_TRUE(Ask(logical, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok);
  EXPECT_EQ(ex.Mbr.PartitionType, 0x8E);
  EXPECT_EQ(ex.PartitionNumber, 3u);

  Answer answer = Ask(logical, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, 0);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_BAD_LENGTH);
  // The request needs a handle opened for writing.
  HANDLE readOnly = Open(WTEXT("\\\\.\\H:"), GENERIC_READ);
  answer = Ask(readOnly, IOCTL_DISK_SET_PARTITION_INFO, nullptr, 0, &type, 1);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_ACCESS_DENIED);
}

TEST_F(DeviceControl, PlainFilesAndUnknownCodesAnswerInvalidFunction) {
  const std::string image = dir.File("volume.img");
  CreateSparseFile(image, kMiB);
  const std::u16string path(image.begin(), image.end());
  HANDLE file = Open(path.c_str());
  DISK_GEOMETRY geometry{};
  Answer answer = Ask(file, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof geometry);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
  ASSERT_TRUE(kestro::MapDrive('C', image));
  answer = Ask(Open(WTEXT("\\\\.\\C:")), 0x00070FFC, &geometry, sizeof geometry);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
}

// A partition device of a loop device: placement from sysfs, the table from the parent disk.
TEST_F(DeviceControl, ALoopPartitionDeviceAnswersFromItsParentDisk) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  std::string whyNot;
  auto loop = LoopDevice::Attach(Disk(kMbrScript), &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  ASSERT_TRUE(kestro::MapDrive('L', loop->Partition(5)));
  HANDLE h = Open(WTEXT("\\\\.\\L:"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  PARTITION_INFORMATION_EX ex{};
  ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok);
  EXPECT_EQ(ex.StartingOffset.QuadPart, static_cast<LONGLONG>(14336 * kSector));
  EXPECT_EQ(ex.PartitionNumber, 2u);
  DISK_GEOMETRY geometry{};
  ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof geometry).ok);
  EXPECT_EQ(geometry.MediaType, FixedMedia);    // loop devices are not removable
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);  // and have no HDIO_GETGEO
  EXPECT_EQ(geometry.Cylinders.QuadPart, static_cast<LONGLONG>(16 * kMiB / (255 * 63 * 512)));
  std::vector<uint8_t> buffer(32);
  ASSERT_TRUE(Ask(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer.data(), 32).ok);
  VOLUME_DISK_EXTENTS extents;
  std::memcpy(&extents, buffer.data(), sizeof extents);
  EXPECT_EQ(extents.Extents[0].StartingOffset.QuadPart, static_cast<LONGLONG>(14336 * kSector));
  EXPECT_EQ(extents.Extents[0].ExtentLength.QuadPart, static_cast<LONGLONG>(4096 * kSector));
  CloseAll();
}

}  // namespace
