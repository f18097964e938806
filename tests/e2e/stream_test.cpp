// kestro with zstd images and with images streamed through pipes: what the zstd tool decodes is
// the raw image, damaged or short streams fail naming where, and a stream goes back onto its
// partition.
#include <filesystem>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

namespace fs = std::filesystem;

class Streams : public KestroTest {
 protected:
  // Runs `script` in bash with $K set to the kestro program.
  static CommandResult Bash(const std::string& script) {
    return RunCommand("K=" + ShellQuote(KESTRO_PROGRAM) + " bash -c " + ShellQuote(script));
  }

  // Overwrites the start of a partition, so that a restore has something to put back.
  void Scribble(const SamplePartition& partition) {
    WriteBytes(disk, partition.offset + (1 << 20), Pattern(0, 8192, 5));
  }

  std::string PartitionSha(const SamplePartition& partition) {
    return Sha256(disk, partition.offset, partition.length);
  }
};

TEST_F(Streams, AZstdImageDecodesToTheRawImageAndGoesBack) {
  KESTRO_REQUIRE_TOOL("zstd");
  const std::string original = PartitionSha(kSampleNtfs);
  const auto backup = Kestro("backup " + Partition(kSampleNtfs) + " " +
                             ShellQuote(dir.File("ntfs.img")) + " --compress zstd:5 -q");
  ASSERT_EQ(backup.status, 0) << backup.output;
  const std::string image = dir.File("ntfs.img.zst");
  EXPECT_NE(backup.output.find(original + "  " + image), std::string::npos) << backup.output;
  EXPECT_NE(ReadFileText(image + ".kestro").find("\"compression\": \"zstd\""), std::string::npos);
  EXPECT_LT(FileSize(image), kSampleNtfs.length / 4);
  EXPECT_EQ(
      RunCommand("zstd -d -q -c " + ShellQuote(image) + " > " + ShellQuote(dir.File("raw.img")))
          .status,
      0);
  EXPECT_EQ(Sha256(dir.File("raw.img")), original);

  // Named by magic, not by name: a renamed stream made by the zstd tool restores as well.
  Scribble(kSampleNtfs);
  const std::string renamed = dir.File("renamed.img");
  ASSERT_EQ(
      RunCommand("zstd -q -c " + ShellQuote(dir.File("raw.img")) + " > " + ShellQuote(renamed))
          .status,
      0);
  const auto restored = Kestro("restore " + ShellQuote(renamed) + " " + Partition(kSampleNtfs));
  ASSERT_EQ(restored.status, 0) << restored.output;
  EXPECT_EQ(PartitionSha(kSampleNtfs), original);
  const auto verified = Kestro("verify " + Partition(kSampleNtfs) + " " + ShellQuote(image));
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_EQ(KestroOutput("cat " + ShellQuote(image) + " --offset 3 --length 4").output, "NTFS");
}

TEST_F(Streams, DamagedAndShortStreamsFailAtTheirOffsetAndLeaveTheVolumeAlone) {
  const std::string image = dir.File("fat.img.zst");
  ASSERT_EQ(Kestro("backup " + Partition(kSampleFat) + " " + ShellQuote(image) +
                   " --compress zstd -q --hash none")
                .status,
            0);
  const uint64_t size = FileSize(image);
  const std::string shortImage = dir.File("short.zst");
  CopyWithDd(image, 0, size / 2, shortImage);
  const std::string damaged = dir.File("damaged.zst");
  CopyWithDd(image, 0, size, damaged);
  WriteBytes(damaged, size / 2, std::vector<uint8_t>(64, 0xA5));
  Scribble(kSampleFat);
  const std::string scribbled = PartitionSha(kSampleFat);

  for (const std::string& bad : {shortImage, damaged}) {
    SCOPED_TRACE(bad);
    const auto restored = Kestro("restore " + ShellQuote(bad) + " " + Partition(kSampleFat));
    EXPECT_EQ(restored.status, 1) << restored.output;
    EXPECT_NE(restored.output.find(" of the stream (byte "), std::string::npos) << restored.output;
    EXPECT_EQ(PartitionSha(kSampleFat), scribbled);
    const auto verified = Kestro("verify " + Partition(kSampleFat) + " " + ShellQuote(bad));
    EXPECT_EQ(verified.status, 1) << verified.output;
    EXPECT_NE(verified.output.find(" at byte "), std::string::npos) << verified.output;
  }

  // From a pipe there is no reading ahead: the volume is written up to the fault, and says so.
  const auto piped = Bash("$K restore - " + Partition(kSampleFat) + " < " + ShellQuote(shortImage));
  EXPECT_EQ(piped.status, 1) << piped.output;
  EXPECT_NE(piped.output.find("is now incomplete"), std::string::npos) << piped.output;
  EXPECT_NE(piped.output.find("the zstd stream is cut short at byte"), std::string::npos)
      << piped.output;
}

TEST_F(Streams, FilesOfSeveralFramesDecodeWholeAndUnchecksummedOnesNeedForce) {
  KESTRO_REQUIRE_TOOL("zstd");
  const std::string original = PartitionSha(kSampleNtfs);
  const uint64_t half = kSampleNtfs.length / 2;
  const std::string first = dir.File("first"), second = dir.File("second");
  CopyWithDd(disk, kSampleNtfs.offset, half, first);
  CopyWithDd(disk, kSampleNtfs.offset + half, half, second);
  const std::string joined = ShellQuote(dir.File("joined.zst"));
  const std::string unchecked = ShellQuote(dir.File("unchecked.zst"));
  ASSERT_EQ(Bash("zstd -q " + ShellQuote(first) + " " + ShellQuote(second) + " && cat " +
                 ShellQuote(first + ".zst") + " " + ShellQuote(second + ".zst") + " > " + joined +
                 " && zstd -q --no-check -c " + ShellQuote(first) + " > " + unchecked)
                .status,
            0);
  Scribble(kSampleNtfs);
  const auto restored = Kestro("restore " + joined + " " + Partition(kSampleNtfs) + " -q");
  ASSERT_EQ(restored.status, 0) << restored.output;
  EXPECT_EQ(PartitionSha(kSampleNtfs), original);
  EXPECT_EQ(Kestro("verify " + Partition(kSampleNtfs) + " " + joined + " -q").status, 0);
  EXPECT_EQ(Bash("$K cat " + joined + " | sha256sum").output.substr(0, 64), original);

  const std::string restore = "restore " + unchecked + " " + Partition(kSampleNtfs) + " -q";
  const auto refused = Kestro(restore);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("is a zstd stream without checksums"), std::string::npos)
      << refused.output;
  EXPECT_EQ(Kestro(restore + " --force").status, 0);
}

TEST_F(Streams, AShortOrPaddedStreamSaysExactlyWhatTheTargetHolds) {
  const std::string stream = dir.File("stream.img");
  ASSERT_EQ(
      Bash("$K backup " + Partition(kSampleNtfs) + " - -q 2>/dev/null > " + ShellQuote(stream))
          .status,
      0);
  const std::string volume = Partition(kSampleNtfs);
  // A 1 MiB buffer writes whole blocks: four of them before the stream ends.
  WriteBytes(disk, kSampleNtfs.offset + 4194304, Pattern(0, 8192, 5));
  const auto cut = Bash("head -c 5000000 " + ShellQuote(stream) + " | $K restore - " + volume);
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.output.find("is now incomplete: it holds the stream's first 4194304 bytes"),
            std::string::npos)
      << cut.output;
  EXPECT_EQ(Sha256(disk, kSampleNtfs.offset, 4194304), Sha256(stream, 0, 4194304));
  EXPECT_NE(Sha256(disk, kSampleNtfs.offset, 4194305), Sha256(stream, 0, 4194305));
  // What it holds is said only once it is flushed, and a failed flush is said instead.
  if (HaveTool("strace")) {
    const auto unflushed =
        Bash("head -c 5000000 " + ShellQuote(stream) +
             " | strace -f -o /dev/null -e inject=fsync:error=EIO $K restore - " + volume);
    EXPECT_NE(unflushed.output.find("cannot flush the stream's first 4194304 bytes (input/output "
                                    "error) after standard input"),
              std::string::npos);
  }

  Scribble(kSampleNtfs);
  const auto padded =
      Bash("(cat " + ShellQuote(stream) + "; printf padding) | $K restore - " + volume);
  EXPECT_EQ(padded.status, 1);
  EXPECT_NE(padded.output.find("holds all 12582912 bytes of the image, but standard input: goes "
                               "on past byte 12582912"),
            std::string::npos)
      << padded.output;
  EXPECT_EQ(PartitionSha(kSampleNtfs), Sha256(stream));
}

TEST_F(Streams, AStreamThroughAPipeEqualsTheRawImageAndRestores) {
  KESTRO_REQUIRE_TOOL("zstd");
  const std::string original = PartitionSha(kSampleNtfs);
  const std::string volume = Partition(kSampleNtfs);
  const auto same = Bash("set -o pipefail; $K backup " + volume +
                         " - --compress zstd -q 2>/dev/null | zstd -d | cmp - <($K backup " +
                         volume + " - --hash none -q 2>/dev/null)");
  EXPECT_EQ(same.status, 0) << same.output;

  // A stream of a copy of the partition goes back onto the partition itself.
  const std::string copy = dir.File("copy.img");
  CopyWithDd(disk, 0, FileSize(disk), copy);
  Scribble(kSampleNtfs);
  const std::string fromCopy =
      "$K backup " + ShellQuote(copy) + " --partition 2 - --compress zstd -q 2>/dev/null | ";
  const auto wrong =
      Bash(fromCopy + "$K restore - " + volume + " -q --expect-digest " + std::string(64, '0'));
  EXPECT_EQ(wrong.status, 1) << wrong.output;
  EXPECT_NE(wrong.output.find("differs from the expected digest (" + original), std::string::npos)
      << wrong.output;
  Scribble(kSampleNtfs);
  const auto restored =
      Bash(fromCopy + "$K restore - " + volume + " -q --expect-digest " + original);
  ASSERT_EQ(restored.status, 0) << restored.output;
  EXPECT_EQ(PartitionSha(kSampleNtfs), original);
  const auto streamed =
      Bash("$K backup " + ShellQuote(copy) + " --partition 2 - -q 2>/dev/null | " + "$K verify " +
           volume + " - -q");
  EXPECT_EQ(streamed.status, 0) << streamed.output;
}

TEST_F(Streams, AReaderThatGoesAwayFailsTheBackup) {
  const auto result = Bash("$K backup " + Partition(kSampleFat) +
                           " - -q | head -c 1000 > /dev/null; echo status=${PIPESTATUS[0]}");
  EXPECT_NE(result.output.find("status=1"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("standard output: closed by its reader"), std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace kestro::testing
