// Compressed images written and read back: seekable images (frames, seek table, the size frame
// ahead of them) and the single-frame images of earlier versions, read at any offset; what
// `zstd -d` makes of them; and damage, which names the frame and its bytes.
#include <support/errors.h>
#include <image/read/image_reader.h>
#include <image/read/open_image.h>
#include <image/write/sparse_image_writer.h>
#include <image/read/zstd_seek_table.h>
#include <image/write/zstd_writer.h>
#include <image/zstd_option.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

namespace {

// 3.5 MiB of a pattern with a zero run in the middle, as a volume has.
std::vector<uint8_t> Volume() {
  std::vector<uint8_t> bytes = Pattern(0, 7 << 19, 7);
  std::fill(bytes.begin() + (1 << 20), bytes.begin() + (2 << 20), 0);
  return bytes;
}

std::string Compress(TempDir& dir, const std::vector<uint8_t>& bytes, size_t declared) {
  const std::string path = dir.File("image.zst");
  const ImageFolder folder(path);
  SparseImageWriter file(folder, folder.image(), 0600);
  ZstdWriter zstd(file, 3, declared, kDefaultZstdFrameBytes);
  zstd.Write(bytes.data(), bytes.size());
  zstd.Finish();
  file.Commit();
  return path;
}

// The bytes at `offset`; throws the image's Failure when they cannot be read.
std::vector<uint8_t> ReadAt(ImageReader& image, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  if (const win32::DWORD error = image.ReadAt(offset, bytes.data(), length)) {
    throw image.Explain("image", "read", offset, error);
  }
  return bytes;
}

// The seek table of the image at `path`.
SeekTable TableOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  auto table = ReadSeekTable(fd, std::filesystem::file_size(path), path);
  close(fd);
  if (!table) throw Failure(path, "has no seek table");
  return *table;
}

}  // namespace

TEST(ZstdImage, SeekableAndSingleFrameImagesReadAheadAndBack) {
  TempDir dir;
  const std::vector<uint8_t> volume = Volume();
  const std::string seekable = Compress(dir, volume, volume.size());
  const std::string raw = dir.File("volume.raw");
  std::ofstream(raw, std::ios::binary)
      .write(reinterpret_cast<const char*>(volume.data()),
             static_cast<std::streamsize>(volume.size()));
  const std::string single = dir.File("single.zst");
  ASSERT_EQ(RunCommand("zstd -q -c " + ShellQuote(raw) + " > " + ShellQuote(single)).status, 0);
  for (const std::string& path : {seekable, single}) {
    const auto image = OpenImage(path);
    EXPECT_STREQ(image->compression(), "zstd");
    ASSERT_EQ(image->size(), volume.size()) << path;
    const auto expect = [&](uint64_t offset, size_t length) {
      EXPECT_EQ(ReadAt(*image, offset, length),
                std::vector<uint8_t>(volume.begin() + static_cast<ptrdiff_t>(offset),
                                     volume.begin() + static_cast<ptrdiff_t>(offset + length)))
          << path << " at " << offset;
    };
    expect((2 << 20) + 5, 100);              // skips ahead
    expect(17, 4096);                        // goes back
    expect((1 << 20) - 10, (2 << 20) + 20);  // across frames, some whole
    expect(volume.size() - 10, 10);
    EXPECT_EQ(image->ReadEnd(), win32::ERROR_SUCCESS);
    EXPECT_THROW(ReadAt(*image, volume.size() - 1, 2), Failure);
  }
}

TEST(ZstdImage, SeekTableRoundTripsAndZstdDecodesTheImage) {
  TempDir dir;
  const std::vector<uint8_t> volume = Volume();
  const std::string path = Compress(dir, volume, volume.size());
  const SeekTable table = TableOf(path);
  EXPECT_TRUE(table.checksummed);
  EXPECT_EQ(table.firstFrameOffset, SizeFrameBytes());
  EXPECT_EQ(table.imageBytes, volume.size());
  ASSERT_EQ(table.frames.size(), 4u);
  EXPECT_EQ(table.frames.back().imageBytes, 1u << 19);
  EXPECT_EQ(DecodeSizeFrame(EncodeSizeFrame(12345)), 12345u);

  const std::string decoded = dir.File("decoded");
  ASSERT_EQ(RunCommand("zstd -q -d -c " + ShellQuote(path) + " > " + ShellQuote(decoded)).status,
            0);
  EXPECT_EQ(ReadBytes(decoded, 0, volume.size() + 1), volume);
}

TEST(ZstdImage, RefusesAWriteShortOfItsSizeAndADamagedFrame) {
  TempDir dir;
  const std::vector<uint8_t> volume = Volume();
  EXPECT_THROW(Compress(dir, volume, volume.size() + 1), Failure);

  const std::string path = Compress(dir, volume, volume.size());
  const auto image = OpenImage(path);
  const uint64_t middle = SizeFrameBytes() + TableOf(path).frames[0].compressedBytes / 2;
  WriteBytes(path, middle, {static_cast<uint8_t>(~ReadBytes(path, middle, 1)[0])});
  EXPECT_EQ(ReadAt(*image, 3 << 20, 4096),
            std::vector<uint8_t>(volume.begin() + (3 << 20), volume.begin() + (3 << 20) + 4096));
  try {
    ReadAt(*image, 100, 10);
    ADD_FAILURE() << "a damaged frame passed";
  } catch (const Failure& failure) {
    EXPECT_NE(
        std::string(failure.what())
            .find(
                "zstd frame 0 is damaged (Restored data doesn't match checksum), at byte 24 of the "
                "stream (byte 0 of the image)"),
        std::string::npos)
        << failure.what();
  }
}

TEST(ZstdImage, ATableFrameLargerThanItsBytesCanDecodeToIsRefusedAsItIsRead) {
  TempDir dir;
  const std::string path = dir.File("liar.zst");
  // One frame of 8 bytes that claims a gigabyte: no read may size a buffer by it.
  std::ofstream(path, std::ios::binary)
      << EncodeSizeFrame(1u << 30) << std::string("\x28\xb5\x2f\xfd\0\0\0\0", 8)
      << EncodeSeekTable({SeekFrame{8, 1u << 30, 0}});
  try {
    OpenImage(path);
    ADD_FAILURE() << "the table was believed";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("frame 0 has impossible sizes"), std::string::npos)
        << failure.what();
  }
}

TEST(ZstdImage, TheCompressOptionTakesEveryFormItsHelpShows) {
  ASSERT_TRUE(ParseZstdOption("zstd,frame=4M"));
  EXPECT_EQ(ParseZstdOption("zstd,frame=4M")->frameBytes, 4u << 20);
  EXPECT_EQ(ParseZstdOption("zstd:5,frame=4M")->level, 5);
  EXPECT_EQ(ParseZstdOption("zstd:frame=4M")->frameBytes, 4u << 20);
  EXPECT_FALSE(ParseZstdOption("zstd,5"));
  EXPECT_FALSE(ParseZstdOption("zstdx"));
}
