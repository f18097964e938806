// kestro restore and verify: a modified image goes back onto its partition, tail included, reads
// back as written, and verify finds the first byte where a volume and an image part.
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

// Makes an image's sidecar record the image as it is now, as if the backup had made it so.
void RecordDigest(const std::string& image) {
  nlohmann::json sidecar = nlohmann::json::parse(std::ifstream(image + ".kestro"));
  sidecar["digest"] = Sha256(image);
  std::ofstream(image + ".kestro") << sidecar.dump(2);
}

class Restore : public KestroTest {
 protected:
  std::string BackUp(const SamplePartition& partition) {
    std::string image = dir.File("p" + std::to_string(partition.number) + ".img");
    const auto result = Kestro("backup " + Partition(partition) + " " + ShellQuote(image) + " -q");
    EXPECT_EQ(result.status, 0) << result.output;
    return image;
  }
};

TEST_F(Restore, AModifiedImageGoesBackWithItsTailAndVerifies) {
  const std::string image = BackUp(kSampleNtfs);
  const std::string fatBefore = Sha256(disk, kSampleFat.offset, kSampleFat.length);
  constexpr uint64_t kChanged = (1 << 20) + 123;
  WriteBytes(image, kChanged, Pattern(0, 3000, 9));
  WriteBytes(image, kSampleNtfs.length - 512 + 100, {0xEE});  // in the tail

  const auto before = Kestro("verify " + Partition(kSampleNtfs) + " " + ShellQuote(image) + " -q");
  EXPECT_EQ(before.status, 1);
  EXPECT_NE(before.output.find("differs from " + image + " at byte " + std::to_string(kChanged)),
            std::string::npos)
      << before.output;

  // The image no longer matches the digest its backup recorded, so it goes back only forced.
  const auto restored =
      Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleNtfs) + " -q --force");
  ASSERT_EQ(restored.status, 0) << restored.output;
  EXPECT_NE(restored.output.find("read back and verified"), std::string::npos) << restored.output;
  EXPECT_NE(restored.output.find("differs from the digest its backup recorded"), std::string::npos)
      << restored.output;
  EXPECT_EQ(Sha256(disk, kSampleNtfs.offset, kSampleNtfs.length), Sha256(image));
  EXPECT_EQ(Sha256(disk, kSampleFat.offset, kSampleFat.length), fatBefore);

  const auto after = Kestro("verify " + Partition(kSampleNtfs) + " " + ShellQuote(image) + " -q");
  EXPECT_EQ(after.status, 0) << after.output;
  EXPECT_NE(after.output.find("matches " + image + ": " + std::to_string(kSampleNtfs.length) +
                              " bytes compared"),
            std::string::npos)
      << after.output;
}

TEST_F(Restore, VerifyFindsADifferenceInThePartitionsTail) {
  const std::string image = BackUp(kSampleNtfs);
  const uint64_t inTail = kSampleNtfs.length - 7;
  WriteBytes(image, inTail, {0x5A});
  const auto result = Kestro("verify " + Partition(kSampleNtfs) + " " + ShellQuote(image) + " -q");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("at byte " + std::to_string(inTail)), std::string::npos)
      << result.output;
}

TEST_F(Restore, AnImageMadeByDdRestoresAsVolumeBytes) {
  const std::string image = dir.File("dd.img");
  CopyWithDd(disk, kSampleFat.offset, kSampleFat.length, image);
  WriteBytes(image, 4096, Pattern(0, 512, 4));
  const auto result = Kestro("restore " + ShellQuote(image) + " " + Partition(kSampleFat) + " -q");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(Sha256(disk, kSampleFat.offset, kSampleFat.length), Sha256(image));
}

TEST_F(Restore, RefusesAMountedVolumeAndWritesNothingEvenWhenForced) {
  KESTRO_REQUIRE_TOOL("ntfs-3g");
  const std::string volume = dir.File("ntfs.img");
  MakeNtfs(volume, 16 << 20);
  const std::string image = dir.File("image.img");
  ASSERT_EQ(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q").status, 0);
  WriteBytes(image, 1 << 20, Pattern(0, 4096, 3));
  RecordDigest(image);
  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  if (RunCommand("ntfs-3g " + ShellQuote(volume) + " " + ShellQuote(mountPoint)).status != 0) {
    GTEST_SKIP() << "ntfs-3g cannot mount here";
  }
  const std::string mounted = Sha256(volume);
  const auto refused = Kestro("restore " + ShellQuote(image) + " " + ShellQuote(volume) + " -q");
  const auto forced =
      Kestro("restore " + ShellQuote(image) + " " + ShellQuote(volume) + " -q --force");
  const std::string after = Sha256(volume);
  RunCommand("fusermount -u " + ShellQuote(mountPoint));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("is mounted or in use"), std::string::npos) << refused.output;
  EXPECT_EQ(forced.status, 1) << forced.output;
  EXPECT_NE(forced.output.find("write failed at byte 0: permission denied"), std::string::npos)
      << forced.output;
  EXPECT_EQ(after, mounted);
}

}  // namespace
}  // namespace kestro::testing
