// The progress line and when it is drawn.
#include <transfer/progress_bar.h>

#include <cstdio>

#include <gtest/gtest.h>

using namespace kestro::cli;

TEST(Progress, ShowsPercentBytesRateAndTimeLeftWithinTheWidth) {
  const std::string line = RenderProgress(50 << 20, 200 << 20, 2.0, 100);
  EXPECT_NE(line.find(" 25%"), std::string::npos) << line;
  EXPECT_NE(line.find("50.0 MiB / 200.0 MiB"), std::string::npos) << line;
  EXPECT_NE(line.find("25.0 MiB/s"), std::string::npos) << line;
  EXPECT_NE(line.find("0:06 left"), std::string::npos) << line;
  EXPECT_EQ(line.size(), 100u) << line;
  EXPECT_EQ(line.find("[#########"), 0u) << line;
}

TEST(Progress, EndsAtOneHundredPercentWithTheElapsedTime) {
  const std::string line = RenderProgress(300, 300, 3725.0, 120);
  EXPECT_NE(line.find("100%"), std::string::npos) << line;
  EXPECT_NE(line.find("1:02:05"), std::string::npos) << line;
  EXPECT_EQ(line.find("left"), std::string::npos) << line;
  EXPECT_NE(RenderProgress(0, 0, 0, 80).find("100%"), std::string::npos);
}

TEST(Progress, DropsTheBarOnANarrowTerminal) {
  const std::string line = RenderProgress(1, 2, 1.0, 20);
  EXPECT_EQ(line.find('['), std::string::npos) << line;
  EXPECT_NE(line.find("50%"), std::string::npos) << line;
}

TEST(Progress, DrawsNothingOffATerminal) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressBar bar(file, true, 100);
    bar.Update(50);
    bar.Finish();
  }
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);
}
