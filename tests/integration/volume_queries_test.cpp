// GetVolumeInformationW, GetDiskFreeSpaceExW and GetDiskFreeSpaceW over real file systems made by
// their own tools, and over damaged ones.
#include <win32/drive_map.h>
#include <win32/windows.h>

#include <filesystem>
#include <random>

#include <fixtures.h>
#include <mapped_drive_test.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

struct VolumeInfo {
  BOOL ok = FALSE;
  DWORD error = 0;
  std::u16string label, fileSystem;
  DWORD serial = 0, maxComponent = 0, flags = 0;
};

VolumeInfo InfoOf(const WCHAR* root) {
  VolumeInfo info;
  WCHAR label[MAX_PATH] = {}, fileSystem[MAX_PATH] = {};
  info.ok = GetVolumeInformationW(root, label, MAX_PATH, &info.serial, &info.maxComponent,
                                  &info.flags, fileSystem, MAX_PATH);
  info.error = GetLastError();
  info.label = label;
  info.fileSystem = fileSystem;
  return info;
}

// The serial number blkid reads, as the hex digits of its UUID.
DWORD SerialByBlkid(const std::string& image) {
  std::string uuid = RunCommand("blkid -p -o value -s UUID " + ShellQuote(image)).output;
  std::erase(uuid, '-');
  std::erase(uuid, '\n');
  return static_cast<DWORD>(std::stoull(uuid.substr(uuid.size() - 8), nullptr, 16));
}

class VolumeQueries : public MappedDriveTest {
 protected:
  // A FAT or NTFS image with a file on it, so that free and total differ by more than metadata.
  std::string Filled(const std::string& name, int fatBits, uint64_t size) {
    const std::string image = dir.File(name);
    const std::string payload = Image("payload.bin", 300 * 1024);
    WriteBytes(payload, 0, Pattern(0, 300 * 1024, 7));
    if (fatBits != 0) {
      MakeFat(image, fatBits, size);
      RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(image) + " " + ShellQuote(payload) +
                 " ::payload.bin");
    } else {
      MakeNtfs(image, size);
      RunCommand("ntfscp -f " + ShellQuote(image) + " " + ShellQuote(payload) + " payload.bin");
    }
    return image;
  }
};

TEST_F(VolumeQueries, FatVolumesAreNamedByTheirSectorsPerFatField) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const struct {
    int bits;
    uint64_t size;
    std::u16string name;
  } cases[] = {{12, 4 * kMiB, u"FAT"}, {16, 16 * kMiB, u"FAT"}, {32, 64 * kMiB, u"FAT32"}};
  for (const auto& c : cases) {
    const std::string image = dir.File("fat" + std::to_string(c.bits) + ".img");
    MakeFat(image, c.bits, c.size, "KESTRO");
    ASSERT_TRUE(kestro::MapDrive('C', image));
    const VolumeInfo info = InfoOf(WTEXT("C:\\"));
    ASSERT_TRUE(info.ok) << "FAT" << c.bits << " error " << info.error;
    EXPECT_EQ(info.fileSystem, c.name) << "FAT" << c.bits;
    EXPECT_EQ(info.label, u"KESTRO");
    EXPECT_EQ(info.serial, SerialByBlkid(image)) << "FAT" << c.bits;
    EXPECT_EQ(info.maxComponent, 255u);
    EXPECT_EQ(info.flags, 0x6u);  // case-preserved names, Unicode on disk
  }
}

TEST_F(VolumeQueries, NtfsReportsItsNameLabelAndSerial) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  const std::string image = dir.File("ntfs.img");
  MakeNtfs(image, 16 * kMiB, "Backup Öl");
  ASSERT_TRUE(kestro::MapDrive('N', image));
  const VolumeInfo info = InfoOf(WTEXT("N:\\"));
  ASSERT_TRUE(info.ok) << info.error;
  EXPECT_EQ(info.fileSystem, u"NTFS");
  EXPECT_EQ(info.label, u"Backup Öl");
  EXPECT_EQ(info.serial, SerialByBlkid(image));
  EXPECT_EQ(info.flags & 0x0F, 0x0Fu);  // case-sensitive search and preserved names, Unicode, ACLs

  WCHAR tooShort[4] = {};
  EXPECT_FALSE(
      GetVolumeInformationW(WTEXT("N:\\"), nullptr, 0, nullptr, nullptr, nullptr, tooShort, 4));
  EXPECT_EQ(GetLastError(), ERROR_BAD_LENGTH);
  WCHAR exact[5] = {};
  EXPECT_TRUE(GetVolumeInformationW(WTEXT("N:"), nullptr, 0, nullptr, nullptr, nullptr, exact, 5));
  EXPECT_EQ(std::u16string(exact), u"NTFS");
}

TEST_F(VolumeQueries, VolumesWindowsCannotReadAreUnrecognised) {
  const std::string blank = Image("blank.img", 8 * kMiB);
  ASSERT_TRUE(kestro::MapDrive('B', blank));
  VolumeInfo info = InfoOf(WTEXT("B:\\"));
  EXPECT_FALSE(info.ok);
  EXPECT_EQ(info.error, ERROR_UNRECOGNIZED_VOLUME);
  EXPECT_EQ(info.fileSystem, u"");

  if (HaveTool("mkfs.ext4")) {
    const std::string ext4 = dir.File("ext4.img");
    MakeExt4(ext4, 8 * kMiB);
    ASSERT_TRUE(kestro::MapDrive('X', ext4));
    info = InfoOf(WTEXT("X:\\"));
    EXPECT_FALSE(info.ok);
    EXPECT_EQ(info.error, ERROR_UNRECOGNIZED_VOLUME);
    // Its space cannot be read either: all of it counts as used.
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(WTEXT("X:\\"), &available, &total, &free));
    EXPECT_EQ(total.QuadPart, 8 * kMiB);
    EXPECT_EQ(free.QuadPart, 0u);
  }
}

TEST_F(VolumeQueries, AnUnmappedRootIsNotFound) {
  ScopedEnv unset("KESTRO_DRIVE_R", std::nullopt);
  EXPECT_FALSE(InfoOf(WTEXT("R:\\")).ok);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ULARGE_INTEGER total{};
  EXPECT_FALSE(GetDiskFreeSpaceExW(WTEXT("R:\\"), nullptr, &total, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  DWORD sectors = 0, bytes = 0, free = 0, clusters = 0;
  EXPECT_FALSE(GetDiskFreeSpaceW(WTEXT("R:\\"), &sectors, &bytes, &free, &clusters));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(VolumeQueries, UnmountedFatSpaceMatchesTheFatTools) {
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  KESTRO_REQUIRE_TOOL("mdir");
  for (int bits : {12, 16, 32}) {
    const uint64_t size = bits == 12 ? 4 * kMiB : bits == 16 ? 16 * kMiB : 64 * kMiB;
    const std::string image = Filled("fat.img", bits, size);
    const ToolSpace tools = FatSpaceByTools(image);
    ASSERT_TRUE(kestro::MapDrive('F', image));
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(WTEXT("F:\\"), &available, &total, &free)) << GetLastError();
    EXPECT_EQ(total.QuadPart, tools.totalBytes) << "FAT" << bits;
    EXPECT_EQ(free.QuadPart, tools.freeBytes) << "FAT" << bits;
    EXPECT_LE(free.QuadPart + 300 * 1024, total.QuadPart) << "FAT" << bits;
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceW(WTEXT("F:\\"), &sectors, &bytes, &freeClusters, &clusters));
    EXPECT_EQ(uint64_t{sectors} * bytes, tools.clusterBytes) << "FAT" << bits;
    EXPECT_EQ(uint64_t{clusters} * sectors * bytes, tools.totalBytes) << "FAT" << bits;
    std::filesystem::remove(image);
  }
}

TEST_F(VolumeQueries, UnmountedAndMountedNtfsSpaceMatchTheNtfsTools) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  KESTRO_REQUIRE_TOOL("ntfscluster");
  const std::string image = Filled("ntfs.img", 0, 32 * kMiB);
  const ToolSpace tools = NtfsSpaceByTools(image);
  ASSERT_TRUE(kestro::MapDrive('N', image));
  ULARGE_INTEGER total{}, free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(WTEXT("N:\\"), nullptr, &total, &free)) << GetLastError();
  EXPECT_EQ(total.QuadPart, tools.totalBytes);
  EXPECT_EQ(free.QuadPart, tools.freeBytes);
  EXPECT_LE(free.QuadPart + 300 * 1024, total.QuadPart);

  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  std::string whyNot;
  auto mount = NtfsMount::Mount(image, mountPoint, &whyNot);
  if (!mount) GTEST_SKIP() << whyNot;
  // Mounted, the answer comes from the file system itself.
  std::filesystem::space_info space = std::filesystem::space(mountPoint);
  ASSERT_TRUE(GetDiskFreeSpaceExW(WTEXT("N:\\"), nullptr, &total, &free));
  EXPECT_EQ(total.QuadPart, space.capacity);
  EXPECT_EQ(free.QuadPart, space.free);
}

// A volume's structures are untrusted input: damaged ones must give an answer, never a crash or a
// read outside the volume (the sanitizer build checks the latter).
TEST_F(VolumeQueries, DamagedFileSystemsAreSurvived) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  KESTRO_REQUIRE_TOOL("mkfs.fat");
  const std::string ntfs = Filled("ntfs.img", 0, 8 * kMiB);
  const std::string fat = Filled("fat.img", 12, 2 * kMiB);
  const auto ntfsBytes = ReadBytes(ntfs, 0, 64 * 1024);
  const auto fatBytes = ReadBytes(fat, 0, 16 * 1024);
  ASSERT_TRUE(kestro::MapDrive('N', ntfs));
  ASSERT_TRUE(kestro::MapDrive('F', fat));
  std::mt19937 random(20261208);
  for (int round = 0; round < 160; ++round) {
    const bool onNtfs = round % 2 == 0;
    auto bytes = onNtfs ? ntfsBytes : fatBytes;
    for (int flips = 0; flips < 8; ++flips) {
      // Mostly the boot sector and the first MFT records or the FAT, where the parsing happens.
      const size_t limit = flips % 2 ? bytes.size() : 512;
      bytes[random() % limit] = static_cast<uint8_t>(random());
    }
    WriteBytes(onNtfs ? ntfs : fat, 0, bytes);
    const WCHAR* root = onNtfs ? WTEXT("N:\\") : WTEXT("F:\\");
    ULARGE_INTEGER total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(root, nullptr, &total, &free));
    EXPECT_LE(free.QuadPart, total.QuadPart);
    InfoOf(root);
  }
}

}  // namespace
