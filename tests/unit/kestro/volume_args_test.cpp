// How a volume named on the command line is told apart and mapped.
#include <volume/volume.h>

#include <win32/drive_map.h>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using namespace kestro::testing;

TEST(VolumeArgs, DriveLettersAreALetterAndAColon) {
  EXPECT_EQ(DriveLetterOf("C:"), 'C');
  EXPECT_EQ(DriveLetterOf("d:"), 'D');
  EXPECT_EQ(DriveLetterOf("E:\\"), 'E');
  EXPECT_EQ(DriveLetterOf("E:/"), 'E');
  for (const char* path : {"C", "CC:", "1:", "/dev/sdb1", "C:x", "./C:", ""}) {
    EXPECT_EQ(DriveLetterOf(path), 0) << path;
  }
}

TEST(VolumeArgs, PathsAreMappedToALetterNoOneUses) {
  TempDir dir;
  ScopedEnv environment("KESTRO_DRIVE_Z", dir.File("z.img"));
  const char first = FreeDriveLetter();
  EXPECT_EQ(first, 'Y');
  {
    ScopedDriveMapping mapping(first, dir.File("y.img"), 2);
    EXPECT_EQ(FreeDriveLetter(), 'X');
    const auto drives = kestro::MappedDrives();
    const auto mapped = std::find_if(drives.begin(), drives.end(),
                                     [&](const auto& drive) { return drive.letter == first; });
    ASSERT_NE(mapped, drives.end());
    EXPECT_EQ(mapped->partition, 2u);
  }
  EXPECT_EQ(FreeDriveLetter(), 'Y');
}
