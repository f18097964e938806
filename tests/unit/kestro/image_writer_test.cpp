// The sparse image writer: exact contents, holes where the data is zero, no partial files.
#include <image/write/sparse_image_writer.h>
#include <support/errors.h>

#include <sys/stat.h>

#include <filesystem>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

namespace {

uint64_t AllocatedBytes(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return static_cast<uint64_t>(st.st_blocks) * 512;
}

}  // namespace

TEST(SparseImageWriter, KeepsEveryByteAndAllocatesOnlyTheData) {
  TempDir dir;
  const std::string path = dir.File("image");
  // 8 MiB: data at an odd offset inside the first block, a 4 MiB zero run, data that ends
  // mid-block, and trailing zeros that only the final size accounts for.
  std::vector<uint8_t> data(8 << 20, 0);
  const auto head = Pattern(100, 5000, 1);
  const auto middle = Pattern(0, 12345, 2);
  std::copy(head.begin(), head.end(), data.begin() + 100);
  std::copy(middle.begin(), middle.end(), data.begin() + (5 << 20) + 7);
  {
    const ImageFolder folder(path);
    SparseImageWriter writer(folder, folder.image(), 0600);
    // Pieces of awkward sizes, so that zero runs span pieces and blocks straddle them.
    for (size_t offset = 0, piece = 1000; offset < data.size(); offset += piece, piece += 3371) {
      piece = std::min(piece, data.size() - offset);
      writer.Write(data.data() + offset, piece);
    }
    writer.Commit();
  }
  EXPECT_EQ(ReadBytes(path, 0, data.size() + 1), data);
  EXPECT_LE(AllocatedBytes(path), 64u << 10);
}

TEST(SparseImageWriter, RemovesAnImageThatWasNotCommitted) {
  TempDir dir;
  const std::string path = dir.File("partial");
  {
    const ImageFolder folder(path);
    SparseImageWriter writer(folder, folder.image(), 0600);
    const auto bytes = Pattern(0, 4096, 3);
    writer.Write(bytes.data(), bytes.size());
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SparseImageWriter, WritesOnlyRegularFiles) {
  const ImageFolder dev("/dev/null");
  EXPECT_THROW(SparseImageWriter(dev, dev.image(), 0600), Failure);
  TempDir dir;
  EXPECT_THROW(ImageFolder(dir.File("missing/image")), Failure);
}

TEST(SparseImageWriter, TellsZeroFromNonZero) {
  std::vector<uint8_t> bytes(1000, 0);
  EXPECT_TRUE(IsAllZero(bytes.data(), bytes.size()));
  for (size_t at : {0u, 31u, 32u, 999u}) {
    bytes[at] = 1;
    EXPECT_FALSE(IsAllZero(bytes.data(), bytes.size())) << at;
    bytes[at] = 0;
  }
}

namespace {

// Keeps what it is given, to show what a sink without holes receives.
class CollectingSink : public ImageSink {
 public:
  void Write(const uint8_t* data, size_t length) override {
    bytes.insert(bytes.end(), data, data + length);
  }
  void Finish() override {}
  std::vector<uint8_t> bytes;
};

}  // namespace

// Holes the backup knows of are never written: the sparse file skips them, other sinks get zeros.
TEST(SparseImageWriter, LeavesHolesItIsToldOfAndOtherSinksGetZeros) {
  const auto head = Pattern(0, 5000, 4);
  const auto tail = Pattern(0, 3000, 5);
  constexpr uint64_t kHole = (3u << 20) + 17;
  std::vector<uint8_t> expected = head;
  expected.resize(head.size() + kHole, 0);
  expected.insert(expected.end(), tail.begin(), tail.end());
  expected.resize(expected.size() + (1u << 20), 0);

  TempDir dir;
  const std::string path = dir.File("image");
  CollectingSink collected;
  {
    const ImageFolder folder(path);
    SparseImageWriter writer(folder, folder.image(), 0600);
    for (ImageSink* sink :
         {static_cast<ImageSink*>(&writer), static_cast<ImageSink*>(&collected)}) {
      sink->Write(head.data(), head.size());
      sink->WriteZeros(kHole);
      sink->Write(tail.data(), tail.size());
      sink->WriteZeros(1u << 20);
    }
    writer.Commit();
  }
  EXPECT_EQ(ReadBytes(path, 0, expected.size() + 1), expected);
  EXPECT_LE(AllocatedBytes(path), 64u << 10);
  EXPECT_EQ(collected.bytes, expected);
}

TEST(SparseImageWriter, FindsNonZeroBytesFarIntoALongBlock) {
  std::vector<uint8_t> bytes((1u << 20) + 3, 0);
  EXPECT_TRUE(IsAllZero(bytes.data(), bytes.size()));
  for (size_t at : {size_t{70000}, bytes.size() - 1}) {
    bytes[at] = 1;
    EXPECT_FALSE(IsAllZero(bytes.data(), bytes.size())) << at;
    bytes[at] = 0;
  }
}
