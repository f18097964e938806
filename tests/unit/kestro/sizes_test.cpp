// Sizes typed on the command line and shown to people.
#include <support/sizes.h>

#include <gtest/gtest.h>

using namespace kestro::cli;

TEST(Sizes, AcceptDigitsWithBinarySuffixesInAnyCase) {
  EXPECT_EQ(ParseSize("0"), 0u);
  EXPECT_EQ(ParseSize("512"), 512u);
  EXPECT_EQ(ParseSize("512B"), 512u);
  EXPECT_EQ(ParseSize("64K"), 64u << 10);
  EXPECT_EQ(ParseSize("4m"), 4u << 20);
  EXPECT_EQ(ParseSize("4MiB"), 4u << 20);
  EXPECT_EQ(ParseSize("2gb"), 2ull << 30);
  EXPECT_EQ(ParseSize("3T"), 3ull << 40);
  EXPECT_EQ(ParseSize("18446744073709551615"), UINT64_MAX);
}

TEST(Sizes, RejectAnythingElseAndOverflow) {
  for (const char* text : {"", "K", "-1", "+1", "1.5M", "1 M", "4X", "4MM", "4Mi", "0x10",
                           "18446744073709551616", "17179869184G"}) {
    EXPECT_FALSE(ParseSize(text).has_value()) << text;
  }
}

TEST(Sizes, FormatInBinaryUnits) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(36u << 20), "36.0 MiB");
  EXPECT_EQ(FormatBytes(256ull << 30), "256.0 GiB");
  EXPECT_EQ(FormatRate(100 << 20, 2.0), "50.0 MiB/s");
  EXPECT_EQ(FormatRate(100, 0), "-");
}
