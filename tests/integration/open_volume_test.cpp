// Opening real volumes: CKestro32(3, 0) on drive C mapped to FAT32, FAT16, FAT12, NTFS and ext4
// volumes, and FAT32 and NTFS volumes with 4096-byte sectors, each as a bare volume image, as a
// partition of an MBR and of a GPT disk image, and as a loop partition device. What the object
// learns must agree with the volume's own bytes and with what the file system's own tools report.
#include <Kestro32.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace win32;
using namespace kestro::testing;

namespace {

constexpr uint64_t kSector = 512;

enum class FileSystem { kFat32, kFat16, kFat12, kNtfs, kFat32Sectors4K, kNtfsSectors4K, kExt4 };
enum class Placement { kBareImage, kMbrLogical, kGpt, kLoopPartition };

struct Case {
  FileSystem fileSystem;
  Placement placement;
};

struct FileSystemTraits {
  const char* name;
  uint64_t size;
  BYTE code;
  const char* mbrType;
  unsigned sectorSize = 512;
};

FileSystemTraits TraitsOf(FileSystem fs) {
  switch (fs) {
    case FileSystem::kFat32:
      return {"FAT32", 64 * kMiB, FSTYPE_FAT32, "c"};
    case FileSystem::kFat16:
      return {"FAT16", 16 * kMiB, FSTYPE_FAT16, "6"};
    case FileSystem::kFat12:
      return {"FAT12", 4 * kMiB, FSTYPE_FAT16, "1"};
    case FileSystem::kNtfs:
      return {"NTFS", 16 * kMiB, FSTYPE_NTFS, "7"};
    case FileSystem::kFat32Sectors4K:
      return {"FAT32_4K", 64 * kMiB, FSTYPE_FAT32, "c", 4096};
    case FileSystem::kNtfsSectors4K:
      return {"NTFS_4K", 32 * kMiB, FSTYPE_NTFS, "7", 4096};
    case FileSystem::kExt4:
      break;
  }
  return {"ext4", 8 * kMiB, FSTYPE_UNKNOWN, "83"};
}

const char* NameOf(Placement placement) {
  switch (placement) {
    case Placement::kBareImage:
      return "BareImage";
    case Placement::kMbrLogical:
      return "MbrLogical";
    case Placement::kGpt:
      return "Gpt";
    case Placement::kLoopPartition:
      break;
  }
  return "LoopPartition";
}

uint64_t LittleEndian(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | bytes[at + i];
  return value;
}

// Where the volume ends up and what the tools said about it.
struct Fixture {
  std::string drivePath;
  std::optional<std::string> partition;
  uint64_t offset = 0;  // of the volume on its disk
  std::vector<uint8_t> bootSector;
  ToolSpace space;
};

class OpenVolume : public ::testing::TestWithParam<Case> {
 protected:
  // Makes the volume image, fills it a little and asks the tools about it.
  std::string MakeVolume(const FileSystemTraits& traits, ToolSpace* space) {
    const std::string volume = dir.File("volume.img");
    const std::string payload = dir.File("payload.bin");
    CreateSparseFile(payload, 200 * 1024);
    WriteBytes(payload, 0, Pattern(0, 200 * 1024, 11));
    switch (GetParam().fileSystem) {
      case FileSystem::kFat32:
      case FileSystem::kFat16:
      case FileSystem::kFat12:
      case FileSystem::kFat32Sectors4K:
        MakeFat(volume, std::stoi(std::string(traits.name).substr(3)), traits.size, "KESTRO",
                traits.sectorSize);
        RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(volume) + " " +
                   ShellQuote(payload) + " ::payload.bin");
        *space = FatSpaceByTools(volume);
        break;
      case FileSystem::kNtfs:
      case FileSystem::kNtfsSectors4K:
        MakeNtfs(volume, traits.size, "KESTRO", traits.sectorSize);
        RunCommand("ntfscp -f " + ShellQuote(volume) + " " + ShellQuote(payload) + " payload.bin");
        *space = NtfsSpaceByTools(volume);
        break;
      case FileSystem::kExt4:
        MakeExt4(volume, traits.size);
        // Windows cannot read ext4: its volume counts as wholly used.
        *space = ToolSpace{traits.size, 0, 0};
        break;
    }
    return volume;
  }

  // A disk image holding the volume as logical partition 5 (after a small primary partition
  // and inside an extended one) or as GPT partition 1.
  std::string MakeDisk(const std::string& volume, const FileSystemTraits& traits, bool mbr,
                       uint64_t* offset) {
    const std::string disk = dir.File("disk.img");
    const uint64_t sectors = traits.size / kSector;
    CreateSparseFile(disk, traits.size + 4 * kMiB);
    if (mbr) {
      PartitionImage(disk, std::string("label: dos\nstart=2048, size=2048, type=83\n") +
                               "start=4096, type=5\nstart=6144, size=" + std::to_string(sectors) +
                               ", type=" + traits.mbrType + "\n");
      *offset = 6144 * kSector;
    } else {
      PartitionImage(disk, "label: gpt\nstart=2048, size=" + std::to_string(sectors) + "\n");
      *offset = 2048 * kSector;
    }
    PlaceVolume(disk, *offset, volume);
    return disk;
  }

  std::optional<Fixture> Prepare(const FileSystemTraits& traits) {
    Fixture fixture;
    const std::string volume = MakeVolume(traits, &fixture.space);
    fixture.bootSector = ReadBytes(volume, 0, kSector);
    switch (GetParam().placement) {
      case Placement::kBareImage:
        fixture.drivePath = volume;
        break;
      case Placement::kMbrLogical:
        fixture.drivePath = MakeDisk(volume, traits, true, &fixture.offset);
        fixture.partition = "5";
        break;
      case Placement::kGpt:
        fixture.drivePath = MakeDisk(volume, traits, false, &fixture.offset);
        fixture.partition = "1";
        break;
      case Placement::kLoopPartition: {
        std::string whyNot;
        auto attached =
            LoopDevice::Attach(MakeDisk(volume, traits, true, &fixture.offset), &whyNot);
        if (!attached) {
          skipReason = whyNot;
          return std::nullopt;
        }
        loop.emplace(std::move(*attached));
        fixture.drivePath = loop->Partition(5);
        break;
      }
    }
    return fixture;
  }

  TempDir dir;
  std::optional<LoopDevice> loop;  // outlives the volume object of the test body
  std::string skipReason;
};

TEST_P(OpenVolume, LearnsWhatTheVolumeAndItsToolsSay) {
  KESTRO_REQUIRE_TOOL("sfdisk");
  const FileSystemTraits traits = TraitsOf(GetParam().fileSystem);
  for (const char* tool : {"mkfs.fat", "mdir", "fsck.fat", "mkntfs", "ntfsinfo", "mkfs.ext4"}) {
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  const auto fixture = Prepare(traits);
  if (!fixture) GTEST_SKIP() << skipReason;
  ScopedEnv drive("KESTRO_DRIVE_C", fixture->drivePath);
  ScopedEnv partition("KESTRO_DRIVE_C_PARTITION", fixture->partition);

  CKestro32 volume(3, 0);
  ASSERT_EQ(volume.m_bReady, 1);
  EXPECT_NE(volume.m_hDisk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.m_nFsType, traits.code);
  EXPECT_EQ(volume.m_llPartOffset, fixture->offset);
  EXPECT_EQ(static_cast<uint64_t>(volume.m_PartInfoEx.PartitionLength.QuadPart), traits.size);
  EXPECT_EQ(std::memcmp(volume.m_BootParams, fixture->bootSector.data() + 11, 73), 0);

  // Counts in the file system's own sectors, which the object reports in 512-byte ones.
  const uint64_t perSector = LittleEndian(fixture->bootSector, 11, 2) / kSector;
  uint64_t sectors = 0;
  switch (GetParam().fileSystem) {
    case FileSystem::kNtfs:
    case FileSystem::kNtfsSectors4K:
      sectors = LittleEndian(fixture->bootSector, 40, 8) * perSector;
      break;
    case FileSystem::kExt4:
      sectors = traits.size / kSector - 1;
      break;
    default:
      // Small FAT12 and FAT16 volumes keep their count in the 16-bit field only.
      sectors = LittleEndian(fixture->bootSector, 32, 4);
      if (sectors == 0) sectors = LittleEndian(fixture->bootSector, 19, 2);
      sectors *= perSector;
      break;
  }
  EXPECT_NE(sectors, 0u);
  EXPECT_EQ(volume.m_llTotalSectors, sectors);
  EXPECT_EQ(volume.m_llVolumeSize, sectors * kSector);
  EXPECT_EQ(volume.m_llFreeBytes, fixture->space.freeBytes);
  EXPECT_EQ(volume.m_llUsedBytes, fixture->space.totalBytes - fixture->space.freeBytes);
  if (traits.code != FSTYPE_UNKNOWN) {
    EXPECT_EQ(perSector * kSector, traits.sectorSize);
    EXPECT_LE(volume.m_llFreeBytes + volume.m_llUsedBytes, volume.m_llVolumeSize);
  }
  RecordProperty("free", std::to_string(volume.m_llFreeBytes));
  RecordProperty("used", std::to_string(volume.m_llUsedBytes));
}

// This process's descriptors open on `path`.
size_t DescriptorsOn(const std::string& path) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(entry.path(), ignored) == path) ++count;
  }
  return count;
}

// A host detaches a copy by clearing its members, destroys copies in either order and reuses
// the memory (ASan watches it too): the survivor writes nowhere else, and the image closes once.
TEST(OpenVolumeCopies, DetachedByTheirMembersAndDestroyedInAnyOrderReleaseOnce) {
  TempDir dir;
  const std::string image = dir.File("c.img");
  MakeFat(image, 16, 16 * kMiB);
  ScopedEnv drive("KESTRO_DRIVE_C", image);
  const auto bytes = Pattern(0, 100, 5);
  for (const bool copyGoesFirst : {true, false}) {
    auto survivor = std::make_unique<CKestro32>(3, 0);
    survivor->Initial(1 << 16);
    auto copy = std::make_unique<CKestro32>(*survivor);
    copy->m_hDisk = INVALID_HANDLE_VALUE;
    copy->m_pBuffer = nullptr;
    if (copyGoesFirst) {
      copy.reset();
      auto reused = std::make_unique<std::array<uint8_t, sizeof(CKestro32)>>();
      reused->fill(0x5a);
      ASSERT_EQ(survivor->SeekNT(4096 + 7, 0), 1);
      EXPECT_EQ(survivor->WriteNT(const_cast<uint8_t*>(bytes.data()), 100), 100u);
      EXPECT_EQ(std::count(reused->begin(), reused->end(), 0x5a), sizeof(CKestro32));
    }
    EXPECT_EQ(DescriptorsOn(image), 1u);
    survivor.reset();
    EXPECT_EQ(DescriptorsOn(image), 0u) << copyGoesFirst;
  }
  EXPECT_EQ(ReadBytes(image, 4096 + 7, 100), bytes);
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (FileSystem fs :
       {FileSystem::kFat32, FileSystem::kFat16, FileSystem::kFat12, FileSystem::kNtfs,
        FileSystem::kFat32Sectors4K, FileSystem::kNtfsSectors4K, FileSystem::kExt4}) {
    for (Placement placement : {Placement::kBareImage, Placement::kMbrLogical, Placement::kGpt,
                                Placement::kLoopPartition}) {
      cases.push_back(Case{fs, placement});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(RealFixtures, OpenVolume, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(TraitsOf(param.param.fileSystem).name) + "_" +
                                  NameOf(param.param.placement);
                         });

}  // namespace
