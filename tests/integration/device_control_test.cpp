// Disk and volume control codes over real image files and loop devices, answered as Windows
// answers them: records, byte counts, and the errors for short buffers and unsuitable handles.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>
#include <open_shared.h>

#include "ioctl/volume_extents.h"

using namespace win32;
using namespace kestro::testing;

namespace {

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

// The number that follows `label` in a tool's output, searching from `from`.
uint64_t NumberAfter(const std::string& output, const std::string& label, size_t from = 0) {
  const size_t at = output.find(label, from);
  EXPECT_NE(at, std::string::npos) << label << " in " << output;
  return at == std::string::npos ? 0 : std::stoull(output.substr(at + label.size()), nullptr, 0);
}

std::string GuidText(const GUID& guid) {
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// A partition as `sfdisk --json` lists it: start and size in 512-byte sectors, its MBR type.
struct ToolPartition {
  uint64_t start = 0;
  uint64_t size = 0;
  unsigned type = 0;
};

std::vector<ToolPartition> ToolPartitions(const std::string& json) {
  static const std::regex entry(
      R"re("start":\s*(\d+),\s*"size":\s*(\d+),\s*"type":\s*"([^"]+)")re");
  std::vector<ToolPartition> partitions;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), entry);
       it != std::sregex_iterator(); ++it) {
    const std::string type = (*it)[3];
    partitions.push_back(
        {std::stoull((*it)[1]), std::stoull((*it)[2]),
         type.size() <= 2 ? static_cast<unsigned>(std::stoul(type, nullptr, 16)) : 0});
  }
  return partitions;
}

std::string ToolDiskId(const std::string& json) {
  static const std::regex id(R"re("id":\s*"([^"]+)")re");
  std::smatch found;
  return std::regex_search(json, found, id) ? found[1].str() : std::string();
}

bool IsExtendedType(unsigned type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

// The disk kinds Windows tells apart by sector 0: a table, a volume boot sector, or nothing.
enum class Kind { kMbr, kGpt, kSuperfloppy, kBlank };
constexpr Kind kKinds[] = {Kind::kMbr, Kind::kGpt, Kind::kSuperfloppy, Kind::kBlank};

std::u16string Wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string DiskName(int number) {
  return Wide("\\\\.\\PHYSICALDRIVE" + std::to_string(number));
}

std::u16string VolumeName(char letter) {
  return Wide(std::string("\\\\.\\") + letter + ":");
}

struct Answer {
  BOOL ok = FALSE;
  DWORD bytes = 0;
  DWORD error = 0;
};

class DeviceControl : public MappedDriveTest {
 protected:
  void TearDown() override { CloseAll(); }

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
    const std::string path = Image("disk.img", size);
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

  // A 16 MiB disk image of `kind`; the superfloppy is a FAT volume without a table.
  std::string DiskOf(Kind kind) {
    const std::string path =
        Image("kind" + std::to_string(static_cast<int>(kind)) + ".img", 16 * kMiB);
    if (kind == Kind::kMbr) PartitionImage(path, kMbrScript);
    if (kind == Kind::kGpt) PartitionImage(path, kGptScript);
    if (kind == Kind::kSuperfloppy) MakeFat(path, 16, 16 * kMiB);
    return path;
  }

  // The device number, extended geometry and MBR-only layout of disk `number` behind `h`, held
  // against what sfdisk reads from `path` and the size and sector size Linux reports.
  void ExpectDiskAnswers(HANDLE h, Kind kind, const std::string& path, int number, uint64_t size,
                         DWORD sectorSize) {
    SCOPED_TRACE(path);
    STORAGE_DEVICE_NUMBER device{};
    Answer answer = Ask(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, &device, sizeof device);
    ASSERT_TRUE(answer.ok) << answer.error;
    EXPECT_EQ(answer.bytes, 12u);
    EXPECT_EQ(device.DeviceType, FILE_DEVICE_DISK);
    EXPECT_EQ(device.DeviceNumber, static_cast<DWORD>(number));
    EXPECT_EQ(device.PartitionNumber, 0u);  // a disk handle is Windows' partition 0

    const std::string json = RunCommand("sfdisk --json " + ShellQuote(path)).output;
    ExpectGeometryEx(h, kind, ToolDiskId(json), size, sectorSize);
    ExpectLegacyLayout(h, kind, ToolDiskId(json), ToolPartitions(json), size);
  }

  void ExpectGeometryEx(HANDLE h, Kind kind, const std::string& id, uint64_t size,
                        DWORD sectorSize) {
    std::vector<uint8_t> buffer(128, 0xEE);
    Answer answer = Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, buffer.data(), 31);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);
    answer = Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, buffer.data(), 40);
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.bytes, 40u);  // cut to the buffer
    EXPECT_EQ(buffer[40], 0xEE);
    answer = Ask(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, buffer.data(), 128);
    ASSERT_TRUE(answer.ok) << answer.error;
    EXPECT_EQ(answer.bytes, 112u);
    DISK_GEOMETRY_EX geometry;
    std::memcpy(&geometry, buffer.data(), sizeof geometry);
    EXPECT_EQ(geometry.DiskSize.QuadPart, static_cast<LONGLONG>(size));
    EXPECT_EQ(geometry.Geometry.BytesPerSector, sectorSize);
    EXPECT_EQ(geometry.Geometry.TracksPerCylinder, 255u);
    EXPECT_EQ(geometry.Geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(geometry.Geometry.Cylinders.QuadPart,
              static_cast<LONGLONG>(size / (255 * 63 * sectorSize)));
    DISK_PARTITION_INFO partition;
    std::memcpy(&partition, buffer.data() + 32, sizeof partition);
    ASSERT_EQ(partition.SizeOfPartitionInfo, 24u);
    DISK_DETECTION_INFO detection;
    std::memcpy(&detection, buffer.data() + 32 + 24, sizeof detection);
    EXPECT_EQ(detection.SizeOfDetectInfo, 56u);
    EXPECT_EQ(detection.DetectionType, DetectNone);
    switch (kind) {
      case Kind::kMbr:
        EXPECT_EQ(partition.PartitionStyle, PARTITION_STYLE_MBR);
        EXPECT_EQ(partition.Mbr.Signature, std::stoul(id, nullptr, 16));
        break;
      case Kind::kGpt:
        EXPECT_EQ(partition.PartitionStyle, PARTITION_STYLE_GPT);
        EXPECT_EQ(GuidText(partition.Gpt.DiskId), id);
        break;
      case Kind::kSuperfloppy:
        EXPECT_EQ(partition.PartitionStyle, PARTITION_STYLE_MBR);
        EXPECT_EQ(partition.Mbr.Signature, 1u);
        break;
      case Kind::kBlank:
        EXPECT_EQ(partition.PartitionStyle, PARTITION_STYLE_RAW);
        break;
    }
  }

  void ExpectLegacyLayout(HANDLE h, Kind kind, const std::string& id,
                          const std::vector<ToolPartition>& tool, uint64_t size) {
    std::vector<uint8_t> buffer(1024);
    Answer answer = Ask(h, IOCTL_DISK_GET_DRIVE_LAYOUT, buffer.data(), 1024);
    if (kind == Kind::kGpt) {
      EXPECT_FALSE(answer.ok);
      EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
      return;
    }
    ASSERT_TRUE(answer.ok) << answer.error;
    DRIVE_LAYOUT_INFORMATION header;
    std::memcpy(&header, buffer.data(), 8);
    EXPECT_EQ(answer.bytes, 8 + 32 * header.PartitionCount);
    answer = Ask(h, IOCTL_DISK_GET_DRIVE_LAYOUT, buffer.data(), 39);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);

    std::vector<ToolPartition> expected;
    for (const ToolPartition& partition : tool) {
      if (!IsExtendedType(partition.type)) expected.push_back(partition);
    }
    if (kind == Kind::kSuperfloppy) expected.push_back({0, size / kSector, 0x04});
    EXPECT_EQ(header.Signature, kind == Kind::kMbr ? std::stoul(id, nullptr, 16)
                                                   : (kind == Kind::kSuperfloppy ? 1u : 0u));
    std::vector<PARTITION_INFORMATION> numbered;
    for (DWORD i = 0; i < header.PartitionCount; ++i) {
      PARTITION_INFORMATION entry;
      std::memcpy(&entry, buffer.data() + 8 + 32 * i, sizeof entry);
      if (entry.PartitionNumber != 0) numbered.push_back(entry);
    }
    ASSERT_EQ(numbered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(numbered[i].PartitionNumber, i + 1);
      EXPECT_EQ(numbered[i].StartingOffset.QuadPart,
                static_cast<LONGLONG>(expected[i].start * kSector));
      EXPECT_EQ(numbered[i].PartitionLength.QuadPart,
                static_cast<LONGLONG>(expected[i].size * kSector));
      EXPECT_EQ(numbered[i].PartitionType, expected[i].type);
    }
  }

  std::vector<HANDLE> handles_;
};

TEST_F(DeviceControl, AnImageFileHasTheGeometryOfAVirtualDisk) {
  const std::string image = Image("volume.img", 100 * kMiB);
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
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string image = dir.File("volume.img");
  MakeFat(image, 12, 8 * kMiB);
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
  const std::string image = Image("volume.img", kMiB);
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

TEST_F(DeviceControl, EachDiskKindAnswersItsNumberGeometryAndLayouts) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  for (Kind kind : kKinds) {
    const std::string image = DiskOf(kind);
    const int number = 3 + static_cast<int>(kind);
    ASSERT_TRUE(kestro::MapPhysicalDrive(number, image));
    HANDLE h = Open(DiskName(number).c_str());
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    ExpectDiskAnswers(h, kind, image, number, std::filesystem::file_size(image), 512);
  }
}

TEST_F(DeviceControl, LoopDevicesAnswerWithTheKernelsSizes) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  KESTRO_REQUIRE_TOOL("blockdev");
  for (Kind kind : kKinds) {
    std::string whyNot;
    auto loop = LoopDevice::Attach(DiskOf(kind), &whyNot);
    if (!loop) GTEST_SKIP() << whyNot;
    const std::string device = loop->device();
    const uint64_t size =
        std::stoull(RunCommand("blockdev --getsize64 " + ShellQuote(device)).output);
    const auto sectorSize =
        static_cast<DWORD>(std::stoul(RunCommand("blockdev --getss " + ShellQuote(device)).output));
    const std::string sysfs = "/sys/class/block/" + device.substr(device.rfind('/') + 1) + "/size";
    EXPECT_EQ(std::stoull(RunCommand("cat " + sysfs).output) * kSector, size);
    ASSERT_TRUE(kestro::MapPhysicalDrive(7, device));
    HANDLE h = Open(DiskName(7).c_str());
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    ExpectDiskAnswers(h, kind, device, 7, size, sectorSize);
    CloseAll();
  }
}

TEST_F(DeviceControl, AVolumeNamesItsDiskAndWindowsPartitionNumber) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const struct {
    Kind kind;
    char letter;
    unsigned tablePartition;
    DWORD windowsPartition;
  } volumes[] = {{Kind::kMbr, 'E', 6, 3}, {Kind::kGpt, 'G', 2, 2}, {Kind::kSuperfloppy, 'F', 0, 1}};
  for (const auto& volume : volumes) {
    const std::string image = DiskOf(volume.kind);
    const int number = 4 + static_cast<int>(volume.kind);
    ASSERT_TRUE(kestro::MapPhysicalDrive(number, image));
    ASSERT_TRUE(kestro::MapDrive(volume.letter, image, volume.tablePartition));
    const std::u16string name = VolumeName(volume.letter);
    STORAGE_DEVICE_NUMBER device{};
    const Answer answer =
        Ask(Open(name.c_str()), IOCTL_STORAGE_GET_DEVICE_NUMBER, &device, sizeof device);
    ASSERT_TRUE(answer.ok) << volume.letter << " " << answer.error;
    EXPECT_EQ(device.DeviceNumber, static_cast<DWORD>(number)) << volume.letter;
    EXPECT_EQ(device.PartitionNumber, volume.windowsPartition) << volume.letter;
  }
  STORAGE_DEVICE_NUMBER device{};
  const Answer answer = Ask(Open(WTEXT("\\\\.\\E:")), IOCTL_STORAGE_GET_DEVICE_NUMBER, &device, 11);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);
}

// Without a table or a volume boot sector in sector 0 a fixed disk has no partitions at all.
TEST_F(DeviceControl, ADiskWithoutATableOrABootSectorIsRaw) {
  KESTRO_REQUIRE_TOOL("mkfs.ext4");
  const std::string blank = Image("blank.img", 8 * kMiB);
  const std::string ext4 = dir.File("ext4.img");
  MakeExt4(ext4, 8 * kMiB);
  for (const auto& [letter, image] : {std::pair{'B', blank}, std::pair{'X', ext4}}) {
    ASSERT_TRUE(kestro::MapDrive(letter, image));
    const std::u16string name = VolumeName(letter);
    HANDLE h = Open(name.c_str());
    PARTITION_INFORMATION_EX ex{};
    ASSERT_TRUE(Ask(h, IOCTL_DISK_GET_PARTITION_INFO_EX, &ex, sizeof ex).ok) << letter;
    EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_RAW) << letter;
    EXPECT_EQ(ex.PartitionNumber, 0u) << letter;
    EXPECT_EQ(ex.StartingOffset.QuadPart, 0) << letter;
    EXPECT_EQ(ex.PartitionLength.QuadPart, static_cast<LONGLONG>(8 * kMiB)) << letter;
    Answer answer;
    const auto layout = Layout(h, 512, &answer);
    ASSERT_TRUE(answer.ok) << letter;
    EXPECT_EQ(answer.bytes, 48u) << letter;
    DRIVE_LAYOUT_INFORMATION_EX header;
    std::memcpy(&header, layout.data(), 48);
    EXPECT_EQ(header.PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_RAW)) << letter;
    EXPECT_EQ(header.PartitionCount, 0u) << letter;
  }
}

TEST_F(DeviceControl, DismountSucceedsOnlyWhereNothingIsMounted) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  const std::string image = dir.File("ntfs.img");
  MakeNtfs(image, 16 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('N', image));
  HANDLE h = Open(WTEXT("\\\\.\\N:"));
  Answer answer = Ask(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0);
  EXPECT_TRUE(answer.ok) << answer.error;
  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  std::string whyNot;
  {
    auto mount = NtfsMount::Mount(image, mountPoint, &whyNot);
    if (!mount) GTEST_SKIP() << whyNot;
    answer = Ask(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunCommand("findmnt " + ShellQuote(mountPoint)).status, 0);  // still mounted
  }
  EXPECT_TRUE(Ask(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0).ok);
}

// The same NTFS volume alone in an image and as a partition of a disk, held against ntfsinfo.
TEST_F(DeviceControl, NtfsVolumeDataMatchesTheNtfsTools) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  KESTRO_REQUIRE_TOOL("ntfsinfo");
  KESTRO_REQUIRE_TOOL("sfdisk");
  const std::string volume = dir.File("ntfs.img");
  MakeNtfs(volume, 16 * kMiB);
  const std::string info = RunCommand("ntfsinfo -m -f " + ShellQuote(volume)).output;
  const std::string mft = RunCommand("ntfsinfo -i 0 -f " + ShellQuote(volume)).output;
  const std::string disk = Image("disk.img", 20 * kMiB);
  PartitionImage(disk, "label: dos\nstart=2048, size=32768, type=7\n");
  PlaceVolume(disk, kMiB, volume);
  ASSERT_TRUE(kestro::MapDrive('N', volume));
  ASSERT_TRUE(kestro::MapDrive('P', disk, 1));

  for (const WCHAR* name : {WTEXT("\\\\.\\N:"), WTEXT("\\\\.\\P:")}) {
    HANDLE h = Open(name);
    NTFS_VOLUME_DATA_BUFFER data{};
    Answer answer = Ask(h, FSCTL_GET_NTFS_VOLUME_DATA, &data, sizeof data - 1);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(answer.bytes, 0u);
    answer = Ask(h, FSCTL_GET_NTFS_VOLUME_DATA, &data, sizeof data);
    ASSERT_TRUE(answer.ok) << answer.error;
    EXPECT_EQ(answer.bytes, 96u);
    EXPECT_EQ(data.VolumeSerialNumber.QuadPart,
              static_cast<LONGLONG>(std::stoull(ProbeValue(volume, "UUID"), nullptr, 16)));
    EXPECT_EQ(data.BytesPerSector, NumberAfter(info, "Sector Size:"));
    EXPECT_EQ(data.BytesPerCluster, NumberAfter(info, "Cluster Size:"));
    const auto clusters = static_cast<LONGLONG>(NumberAfter(info, "Volume Size in Clusters:"));
    EXPECT_EQ(data.TotalClusters.QuadPart, clusters);
    EXPECT_EQ(data.NumberSectors.QuadPart / (data.BytesPerCluster / data.BytesPerSector), clusters);
    EXPECT_EQ(data.FreeClusters.QuadPart,
              static_cast<LONGLONG>(NumberAfter(info, "Free Clusters:")));
    EXPECT_EQ(data.TotalReserved.QuadPart, 0);
    EXPECT_EQ(data.BytesPerFileRecordSegment, NumberAfter(info, "MFT Record Size:"));
    EXPECT_EQ(data.ClustersPerFileRecordSegment,
              data.BytesPerFileRecordSegment / data.BytesPerCluster);
    EXPECT_EQ(data.MftStartLcn.QuadPart,
              static_cast<LONGLONG>(NumberAfter(info, "LCN of Data Attribute for FILE_MFT:")));
    EXPECT_EQ(data.Mft2StartLcn.QuadPart,
              static_cast<LONGLONG>(NumberAfter(info, "LCN of Data Attribute for File_MFTMirr:")));
    EXPECT_EQ(data.MftValidDataLength.QuadPart,
              static_cast<LONGLONG>(
                  NumberAfter(mft, "Initialized size:", mft.find("Dumping attribute $DATA"))));
    EXPECT_GT(data.MftZoneStart.QuadPart, data.MftStartLcn.QuadPart);
    EXPECT_GT(data.MftZoneEnd.QuadPart, data.MftZoneStart.QuadPart);
    EXPECT_LE(data.MftZoneEnd.QuadPart, clusters);
  }
}

TEST_F(DeviceControl, OnlyNtfsVolumesAnswerNtfsVolumeData) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string fat = dir.File("fat.img");
  MakeFat(fat, 32, 40 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('F', fat));
  ASSERT_TRUE(kestro::MapPhysicalDrive(1, fat));
  NTFS_VOLUME_DATA_BUFFER data{};
  for (const WCHAR* name : {WTEXT("\\\\.\\F:"), WTEXT("\\\\.\\PhysicalDrive1")}) {
    const Answer answer = Ask(Open(name), FSCTL_GET_NTFS_VOLUME_DATA, &data, sizeof data);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, ERROR_INVALID_FUNCTION);
  }
}

}  // namespace
