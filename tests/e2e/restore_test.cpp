// kestro restore and verify: a modified image goes back onto its partition, tail included, reads
// back as written, and verify finds the first byte where a volume and an image part.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

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
  EXPECT_NE(forced.output.find("is mounted or in use, which --force does not override"),
            std::string::npos)
      << forced.output;
  EXPECT_EQ(after, mounted);
}

// An ext4 file system in partition 1 of a disk, mounted by the kernel through a loop partition:
// a restore onto the whole disk, the partition or a device overlapping it is refused, forced or
// not, and the file system stays clean.
TEST_F(Restore, RefusesEveryNameOfAMountedExt4AndWritesNothing) {
  KESTRO_REQUIRE_TOOL("mkfs.ext4");
  KESTRO_REQUIRE_TOOL("e2fsck");
  const std::string ext4 = dir.File("ext4.img");
  MakeExt4(ext4, 8 * kMiB);
  const std::string ext4Disk = dir.File("ext4-disk.img");
  CreateSparseFile(ext4Disk, 24 * kMiB);
  PartitionImage(ext4Disk, "label: dos\nstart=2048, size=16384, type=83\nstart=20480, type=83\n");
  PlaceVolume(ext4Disk, kMiB, ext4);
  std::string whyNot;
  auto loop = LoopDevice::Attach(ext4Disk, &whyNot);
  if (!loop) GTEST_SKIP() << whyNot;
  auto overlapping = LoopDevice::Attach(ext4Disk, &whyNot, "-o 5MiB --sizelimit 8MiB");
  ASSERT_TRUE(overlapping) << whyNot;
  const std::vector<std::string> targets{loop->device(), loop->Partition(1), overlapping->device()};
  std::vector<std::string> images;
  for (const std::string& target : targets) {
    images.push_back(dir.File("image" + std::to_string(images.size()) + ".img"));
    ASSERT_EQ(Kestro("backup " + target + " " + ShellQuote(images.back()) + " -q").status, 0);
    WriteBytes(images.back(), 4096, Pattern(0, 4096, 5));
    RecordDigest(images.back());
  }
  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directory(mountPoint);
  {
    auto mount = ScopedMount::Kernel(loop->Partition(1), mountPoint, &whyNot);
    if (!mount) GTEST_SKIP() << whyNot;
    const std::string gap = Sha256(ext4Disk, 0, kMiB);
    for (size_t i = 0; i < targets.size(); ++i) {
      const std::string restore = "restore " + ShellQuote(images[i]) + " " + targets[i] + " -q";
      const auto refused = Kestro(restore);
      EXPECT_EQ(refused.status, 1) << refused.output;
      EXPECT_NE(refused.output.find(targets[i] + ": is mounted or in use"), std::string::npos)
          << refused.output;
      const auto forced = Kestro(restore + " --force");
      EXPECT_EQ(forced.status, 1) << forced.output;
      EXPECT_NE(forced.output.find(targets[i] +
                                   ": is mounted or in use, which --force does not override: "),
                std::string::npos)
          << forced.output;
    }
    EXPECT_EQ(Sha256(ext4Disk, 0, kMiB), gap);
  }
  EXPECT_NE(ReadBytes(ext4Disk, kMiB + 4096, 4096), Pattern(0, 4096, 5));
  EXPECT_NE(ReadBytes(ext4Disk, 5 * kMiB + 4096, 4096), Pattern(0, 4096, 5));
  const auto check = RunCommand("e2fsck -n -f " + ShellQuote(loop->Partition(1)));
  EXPECT_EQ(check.status, 0) << check.output;
}

// Both devices have 4096-byte logical sectors, the volume 4096-byte sectors of its own; the
// library moves 512-byte sectors, which reach the devices whole.
TEST_F(Restore, AVolumeOnADeviceWith4096ByteSectorsComesBackByteForByte) {
  KESTRO_REQUIRE_TOOL("mkntfs");
  constexpr uint64_t kSize = 16 << 20;
  const std::string source = dir.File("source.img");
  const std::string target = dir.File("target.img");
  MakeNtfs(source, kSize, "KESTRO", 4096);
  WriteBytes(source, kSize / 2 + 512, Pattern(0, 300 * 1024, 21));
  CreateSparseFile(target, kSize);
  std::string whyNot;
  auto from = LoopDevice::Attach(source, &whyNot, "--sector-size 4096");
  if (!from) GTEST_SKIP() << whyNot;
  auto to = LoopDevice::Attach(target, &whyNot, "--sector-size 4096");
  ASSERT_TRUE(to) << whyNot;

  const std::string image = dir.File("ntfs.img");
  const auto backup = Kestro("backup " + from->device() + " " + ShellQuote(image) + " -q");
  ASSERT_EQ(backup.status, 0) << backup.output;
  // NTFS keeps its last sector outside the volume, for the copy of its boot sector.
  EXPECT_NE(backup.output.find(std::to_string(kSize - 4096) + " of the volume, 4096 of the"),
            std::string::npos)
      << backup.output;
  EXPECT_EQ(Sha256(image), Sha256(from->device()));
  const auto restore = Kestro("restore " + ShellQuote(image) + " " + to->device() + " -q");
  ASSERT_EQ(restore.status, 0) << restore.output;
  EXPECT_EQ(RunCommand("cmp " + from->device() + " " + to->device()).status, 0);
}

// The read-back reads the device's medium, not the page cache its writes went through: bytes
// changed on the medium after the flush (the loop device's backing file, changed while strace
// holds kestro just past its flush) fail the check.
TEST_F(Restore, BytesChangedOnTheMediumAfterTheWritesFailTheReadBack) {
  KESTRO_REQUIRE_TOOL("strace");
  constexpr uint64_t kSize = 8 << 20;
  const std::string source = dir.File("source.img");
  const std::string target = dir.File("target.img");
  CreateRandomFile(source, kSize);
  CreateSparseFile(target, kSize);
  std::string whyNot;
  auto from = LoopDevice::Attach(source, &whyNot);
  if (!from) GTEST_SKIP() << whyNot;
  auto to = LoopDevice::Attach(target, &whyNot);
  ASSERT_TRUE(to) << whyNot;
  const std::string image = dir.File("device.img");
  ASSERT_EQ(Kestro("backup " + from->device() + " " + ShellQuote(image) + " -q").status, 0);

  const std::string log = dir.File("strace.log");
  CommandResult restore;
  std::thread restoring([&] {
    restore =
        RunCommand("strace -f -qq --seccomp-bpf -e trace=fsync -e inject=fsync:delay_exit=" +
                   std::string("2000000 -o ") + ShellQuote(log) + " " + ShellQuote(KESTRO_PROGRAM) +
                   " restore " + ShellQuote(image) + " " + to->device() + " -q");
  });
  for (int i = 0; i < 1500 && ReadFileText(log).find("fsync(") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  WriteBytes(target, kSize / 2, Pattern(0, 4096, 5));
  restoring.join();
  EXPECT_NE(restore.status, 0) << restore.output;
  EXPECT_NE(restore.output.find("reads back differently"), std::string::npos) << restore.output;
}

}  // namespace
}  // namespace kestro::testing
