// Compressed images written and read back: reads that skip ahead and go back, the frame's size
// and checksum, and an image that does not end where its frame says.
#include <errors.h>
#include <image_reader.h>
#include <image_writer.h>
#include <zstd_writer.h>

#include <filesystem>
#include <fstream>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

namespace {

// 3 MiB of a pattern with a zero run in the middle, as a volume has.
std::vector<uint8_t> Volume() {
  std::vector<uint8_t> bytes = Pattern(0, 3 << 20, 7);
  std::fill(bytes.begin() + (1 << 20), bytes.begin() + (2 << 20), 0);
  return bytes;
}

std::string Compress(TempDir& dir, const std::vector<uint8_t>& bytes, size_t declared) {
  const std::string path = dir.File("image.zst");
  const ImageFolder folder(path);
  SparseImageWriter file(folder, folder.image(), 0600);
  ZstdWriter zstd(file, 3, declared);
  zstd.Write(bytes.data(), bytes.size());
  zstd.Finish();
  file.Commit();
  return path;
}

std::vector<uint8_t> ReadAt(ImageReader& image, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  image.ReadAt(offset, bytes.data(), length);
  return bytes;
}

}  // namespace

TEST(ZstdImage, ReadsAheadAndBackAsAFileWould) {
  TempDir dir;
  const std::vector<uint8_t> volume = Volume();
  const auto image = OpenImage(Compress(dir, volume, volume.size()));
  EXPECT_STREQ(image->compression(), "zstd");
  ASSERT_EQ(image->size(), volume.size());
  const auto expect = [&](uint64_t offset, size_t length) {
    EXPECT_EQ(ReadAt(*image, offset, length),
              std::vector<uint8_t>(volume.begin() + static_cast<ptrdiff_t>(offset),
                                   volume.begin() + static_cast<ptrdiff_t>(offset + length)))
        << offset;
  };
  expect((2 << 20) + 5, 100);  // skips ahead
  expect(17, 4096);            // goes back: the file is decoded again from its start
  expect(volume.size() - 10, 10);
  EXPECT_NO_THROW(image->ReadEnd());
  EXPECT_THROW(ReadAt(*image, volume.size() - 1, 2), Failure);
}

TEST(ZstdImage, RefusesAWriteShortOfItsSizeAndADamagedChecksum) {
  TempDir dir;
  const std::vector<uint8_t> volume = Volume();
  EXPECT_THROW(Compress(dir, volume, volume.size() + 1), Failure);

  const std::string path = Compress(dir, volume, volume.size());
  const uint64_t size = std::filesystem::file_size(path);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(size - 2));
    const char last = static_cast<char>(file.get());
    file.seekp(static_cast<std::streamoff>(size - 2));
    file.put(static_cast<char>(~last));
  }
  // The checksum may be checked with the last block or after it; either way, with the offset.
  const auto image = OpenImage(path);
  try {
    ReadAt(*image, 0, volume.size());
    image->ReadEnd();
    ADD_FAILURE() << "a damaged checksum passed";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("damaged"), std::string::npos) << failure.what();
    EXPECT_NE(std::string(failure.what()).find(" of the stream (byte "), std::string::npos);
  }
}
