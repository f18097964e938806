// The sample disk linked into the program unpacks to the disk the demo describes.
#include <support/errors.h>
#include <image/sample.h>

#include <sys/stat.h>

#include <filesystem>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

TEST(Sample, UnpacksToASparseMbrDiskWithAFatAndAnNtfsPartition) {
  TempDir dir;
  const std::string disk = dir.File("disk.img");
  EXPECT_LT(EmbeddedSampleDisk().size(), 1u << 20);
  EXPECT_EQ(UnpackXz(EmbeddedSampleDisk(), disk), 50u << 20);
  EXPECT_EQ(ReadBytes(disk, 510, 2), (std::vector<uint8_t>{0x55, 0xAA}));
  EXPECT_EQ(ReadBytes(disk, 446 + 4, 1)[0], 0x0c);       // entry 1: FAT32 (LBA)
  EXPECT_EQ(ReadBytes(disk, 446 + 16 + 4, 1)[0], 0x07);  // entry 2: NTFS
  EXPECT_EQ(ReadBytes(disk, 2048 * 512 + 82, 5), (std::vector<uint8_t>{'F', 'A', 'T', '3', '2'}));
  EXPECT_EQ(ReadBytes(disk, 75776 * 512 + 3, 4), (std::vector<uint8_t>{'N', 'T', 'F', 'S'}));
  struct stat st {};
  ASSERT_EQ(stat(disk.c_str(), &st), 0);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 8u << 20);
}

TEST(Sample, DamagedDataFailsAndLeavesNoFile) {
  TempDir dir;
  const std::string disk = dir.File("disk.img");
  const std::string_view sample = EmbeddedSampleDisk();
  EXPECT_THROW(UnpackXz(sample.substr(0, sample.size() / 2), disk), Failure);
  EXPECT_FALSE(std::filesystem::exists(disk));
  EXPECT_THROW(UnpackXz("not xz at all", disk), Failure);
}
