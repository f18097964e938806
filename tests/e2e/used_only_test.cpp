// kestro backup --used-only on FAT32, NTFS and ext4 volumes made the way real disks are (random
// bytes left by earlier use, then mkfs, then files): a sparse image the file-system checkers
// accept, restored onto a random-filled volume with the same files; and refusals of volumes whose
// allocation it cannot read.
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

constexpr uint64_t kVolumeBytes = 64ull << 20;

// How to make, fill, read and check one kind of file system with its own tools.
struct FileSystemTools {
  const char* name;
  void (*format)(const std::string& volume);
  const char* put;    // printf format: volume, file, name
  const char* get;    // volume, name, output file
  const char* check;  // volume
};

const FileSystemTools kFat32{"FAT32", [](const std::string& v) { MakeFat(v, 32, kVolumeBytes); },
                             "mcopy -i %s %s ::%s", "mcopy -n -i %s ::%s %s", "fsck.fat -n %s"};
const FileSystemTools kNtfs{"NTFS", [](const std::string& v) { MakeNtfs(v, kVolumeBytes); },
                            "ntfscp -q %s %s %s", "ntfscat %s %s > %s", "ntfsfix -n %s"};
const FileSystemTools kExt4{"ext4", [](const std::string& v) { MakeExt4(v, kVolumeBytes); },
                            "printf 'write %%s %%s\\n' %2$s %3$s | debugfs -w -f - %1$s",
                            "printf 'dump %%s %%s\\n' %2$s %3$s | debugfs -f - %1$s",
                            "e2fsck -fn %s"};

std::string Format(const char* pattern, const std::string& a, const std::string& b = "",
                   const std::string& c = "") {
  char command[4096];
  std::snprintf(command, sizeof command, pattern, ShellQuote(a).c_str(), ShellQuote(b).c_str(),
                ShellQuote(c).c_str());
  return command;
}

class UsedOnly : public KestroTest {
 protected:
  // A volume about a tenth full of random files, on top of random bytes.
  std::string MakeVolume(const FileSystemTools& tools) {
    const std::string volume = dir.File(std::string(tools.name) + ".vol");
    CreateRandomFile(volume, kVolumeBytes);
    tools.format(volume);
    for (const auto& [name, size] : kFiles) {
      CreateRandomFile(dir.File(name), size);
      const auto put = RunCommand(Format(tools.put, volume, dir.File(name), name));
      EXPECT_EQ(put.status, 0) << put.output;
    }
    return volume;
  }

  void ExpectSameFiles(const FileSystemTools& tools, const std::string& volume) {
    for (const auto& [name, size] : kFiles) {
      const std::string copy = dir.File("copy");
      const auto got = RunCommand(Format(tools.get, volume, name, copy));
      ASSERT_EQ(got.status, 0) << got.output;
      EXPECT_EQ(Sha256(copy), Sha256(dir.File(name))) << name;
    }
  }

  static constexpr std::pair<const char*, uint64_t> kFiles[] = {
      {"big.bin", 3u << 20}, {"mid.bin", 2u << 20}, {"odd.bin", 1234567}, {"tiny.txt", 10}};
};

TEST_F(UsedOnly, TheImageRestoresOntoARandomVolumeWithTheSameFiles) {
  KESTRO_REQUIRE_TOOL("mcopy");
  KESTRO_REQUIRE_TOOL("ntfscp");
  KESTRO_REQUIRE_TOOL("debugfs");
  for (const FileSystemTools* tools : {&kFat32, &kNtfs, &kExt4}) {
    SCOPED_TRACE(tools->name);
    const std::string volume = MakeVolume(*tools);
    const std::string image = dir.File("used.img");
    const auto backup = Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) +
                               " -q --used-only --buffer 64K");
    ASSERT_EQ(backup.status, 0) << backup.output;
    EXPECT_TRUE(std::regex_search(backup.output, std::regex("used-only image: copied .* in \\d+ "
                                                            "runs? of 64.0 MiB")))
        << backup.output;
    // Full size, but only about what the files take on disk.
    EXPECT_EQ(FileSize(image), kVolumeBytes);
    EXPECT_LT(AllocatedBytes(image), kVolumeBytes / 5);
    const auto sidecar = nlohmann::json::parse(std::ifstream(image + ".kestro"));
    EXPECT_EQ(sidecar["used_only"], true);
    EXPECT_EQ(sidecar["digest"], Sha256(image));
    EXPECT_EQ(RunCommand(Format(tools->check, image)).status, 0);

    const std::string target = dir.File("target.vol");
    CreateRandomFile(target, kVolumeBytes);
    const auto restore = Kestro("restore " + ShellQuote(image) + " " + ShellQuote(target) + " -q");
    ASSERT_EQ(restore.status, 0) << restore.output;
    EXPECT_NE(restore.output.find("used-only image: restored"), std::string::npos);
    const auto check = RunCommand(Format(tools->check, target));
    EXPECT_EQ(check.status, 0) << check.output;
    ExpectSameFiles(*tools, target);

    // The target's free clusters still hold random bytes; only the used ones are compared.
    const auto verify = Kestro("verify " + ShellQuote(target) + " " + ShellQuote(image) + " -q");
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_NE(verify.output.find("used-only image: compared"), std::string::npos);
    WriteBytes(target, 0, {static_cast<uint8_t>(~ReadBytes(target, 0, 1)[0])});
    EXPECT_EQ(Kestro("verify " + ShellQuote(target) + " " + ShellQuote(image) + " -q").status, 1);
  }
}

TEST_F(UsedOnly, VolumesWhoseAllocationCannotBeReadAreRefused) {
  KESTRO_REQUIRE_TOOL("mkfs.ext4");
  const std::string ext4 = dir.File("ext4.vol");
  MakeExt4(ext4, kVolumeBytes);
  ASSERT_EQ(RunCommand("debugfs -w -R 'ssv state 3' " + ShellQuote(ext4)).status, 0);
  const std::string noise = dir.File("noise.vol");
  CreateRandomFile(noise, 8u << 20);

  // A FAT entry that points past the last cluster.
  const std::string badFat = dir.File("bad-fat.vol");
  MakeFat(badFat, 32, kVolumeBytes);
  const uint64_t fatStart = ReadBytes(badFat, 14, 1)[0] * 512ull;
  WriteBytes(badFat, fatStart + 4 * 100, {0x00, 0xFF, 0xFF, 0x0F});

  // The MFT record that maps the cluster bitmap, overwritten.
  const std::string badBitmap = dir.File("bad-bitmap.vol");
  MakeNtfs(badBitmap, kVolumeBytes);
  const auto boot = ReadBytes(badBitmap, 0, 512);
  uint64_t mftCluster = 0;
  for (size_t i = 8; i-- > 0;) mftCluster = mftCluster << 8 | boot[48 + i];
  WriteBytes(badBitmap, mftCluster * boot[13] * 512 + 6 * 1024, std::vector<uint8_t>(1024, 0xAB));

  // An ext2 superblock that claims four billion blocks in 8-inode groups, consistently.
  const std::string huge = dir.File("huge-ext2.vol");
  ASSERT_EQ(RunCommand("mkfs.ext2 -q -F -b 1024 -O ^metadata_csum,^resize_inode " +
                       ShellQuote(huge) + " 32M")
                .status,
            0);
  for (const auto& [offset, value] : {std::pair{0u, 4194304u}, {4u, 0xFFFFFFFFu}, {40u, 8u}}) {
    WriteBytes(huge, 1024 + offset,
               {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
  }

  // A group descriptor whose block bitmap lies at block 0, which the library would read as free.
  const std::string badGroup = dir.File("bad-group.vol");
  ASSERT_EQ(RunCommand("mkfs.ext2 -q -F " + ShellQuote(badGroup) + " 64M && debugfs -w -R " +
                       "'set_bg 2 block_bitmap 0' " + ShellQuote(badGroup) + " 2>/dev/null")
                .status,
            0);

  const std::pair<std::string, const char*> cases[] = {
      {huge, "holds an ext file system of 4294967295 blocks of 1024 bytes, more than the"},
      {ext4, "holds an ext file system that is not clean: it has errors flagged"},
      {noise, "holds no FAT, NTFS or ext2/3/4 file system"},
      {badFat, "has a corrupt allocation map \\(a FAT entry points beyond"},
      {badBitmap, "has a corrupt allocation map"},
      {badGroup, "has corrupt ext group descriptors"},
  };
  for (const auto& [volume, reason] : cases) {
    SCOPED_TRACE(volume);
    const std::string image = dir.File("refused.img");
    const auto result =
        Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q --used-only");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_TRUE(std::regex_search(result.output, std::regex("^kestro: " + volume + ": " + reason)))
        << result.output;
    EXPECT_FALSE(std::filesystem::exists(image));
  }
  EXPECT_EQ(Kestro("backup " + ShellQuote(ext4) + " " + ShellQuote(dir.File("forced.img")) +
                   " -q --used-only --force")
                .status,
            0);
}

TEST_F(UsedOnly, AnImageWhoseMapCannotBeReadIsReportedByTheFailedRead) {
  KESTRO_REQUIRE_TOOL("mkfs.ext4");
  const std::string volume = dir.File("ext4.vol");
  MakeExt4(volume, kVolumeBytes);
  const std::string image = dir.File("used.zst");
  ASSERT_EQ(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) +
                   " -q --used-only --compress zstd")
                .status,
            0);
  // Damage the frame that holds the superblock, leaving the file as its sidecar describes it.
  const auto modified = std::filesystem::last_write_time(image);
  WriteBytes(image, 200, {static_cast<uint8_t>(~ReadBytes(image, 200, 1)[0])});
  std::filesystem::last_write_time(image, modified);
  CreateRandomFile(dir.File("target.vol"), kVolumeBytes);
  for (const std::string& command : {"restore " + ShellQuote(image) + " " + dir.File("target.vol"),
                                     "verify " + ShellQuote(volume) + " " + ShellQuote(image)}) {
    const auto result = Kestro(command + " -q");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find(image + ": zstd frame 0 is damaged"), std::string::npos)
        << result.output;
  }
}

}  // namespace
}  // namespace kestro::testing
