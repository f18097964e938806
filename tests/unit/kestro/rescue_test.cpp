// Reading past unreadable sectors.
#include <transfer/rescue.h>

#include <set>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace win32;
using kestro::testing::Pattern;

namespace {

// A range in memory whose listed sectors cannot be read; a read touching one fails whole.
class DamagedRange : public ByteRange {
 public:
  DamagedRange(size_t size, std::set<uint64_t> badSectors)
      : bytes_(Pattern(0, size, 5)), bad_(std::move(badSectors)) {}
  uint64_t size() const override { return bytes_.size(); }
  DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override {
    ++reads;
    for (uint64_t sector = offset / 512; sector * 512 < offset + length; ++sector) {
      if (bad_.count(sector)) return ERROR_CRC;
    }
    std::copy_n(bytes_.data() + offset, length, static_cast<uint8_t*>(buffer));
    return ERROR_SUCCESS;
  }
  DWORD WriteAt(uint64_t, const void*, size_t) override { return ERROR_ACCESS_DENIED; }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  int reads = 0;

 private:
  std::vector<uint8_t> bytes_;
  std::set<uint64_t> bad_;
};

}  // namespace

TEST(Rescue, WithoutAMapTheFirstFailureIsReturned) {
  DamagedRange range(64 * 512, {3});
  std::vector<uint8_t> buffer(16 * 512);
  EXPECT_EQ(ReadRescuing(range, 0, buffer.data(), buffer.size(), nullptr, 0), ERROR_CRC);
  EXPECT_EQ(range.reads, 1);
}

TEST(Rescue, ZeroFillsOnlyTheBadSectorsAndMapsThemMerged) {
  DamagedRange range(64 * 512, {17, 18, 21});
  std::vector<uint8_t> buffer(16 * 512, 0xAA);
  RescueMap map;
  // The block holds volume sectors 16 to 31 and lies at image offset 1 MiB + 16 sectors.
  EXPECT_EQ(ReadRescuing(range, 16 * 512, buffer.data(), buffer.size(), &map, 1 << 20),
            ERROR_SUCCESS);
  for (size_t sector = 0; sector < 16; ++sector) {
    const bool bad = sector == 1 || sector == 2 || sector == 5;
    const uint8_t* first = buffer.data() + sector * 512;
    const std::vector<uint8_t> got(first, first + 512);
    const auto expected = bad ? std::vector<uint8_t>(512, 0)
                              : std::vector<uint8_t>(range.bytes().data() + (16 + sector) * 512,
                                                     range.bytes().data() + (17 + sector) * 512);
    EXPECT_EQ(got, expected) << "sector " << sector;
  }
  ASSERT_EQ(map.ranges().size(), 2u);
  EXPECT_EQ(map.ranges()[0].offset, (1u << 20) + 17 * 512);
  EXPECT_EQ(map.ranges()[0].length, 1024u);
  EXPECT_EQ(map.ranges()[1].offset, (1u << 20) + 21 * 512);
  EXPECT_EQ(map.bytes(), 1536u);
  EXPECT_EQ(map.Text("C:"),
            "# unreadable ranges of C:, filled with zeros in the image\n"
            "# offset length (bytes)\n1057280 1024\n1059328 512\n");
}
