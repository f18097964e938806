// The sidecar that says where an image's volume bytes end.
#include <support/errors.h>
#include <image/image_format.h>

#include <fstream>

#include <fixtures.h>
#include <gtest/gtest.h>

using namespace kestro::cli;
using kestro::testing::TempDir;

namespace {

void WriteSidecar(const std::string& image, const ImageLayout& layout) {
  std::ofstream(SidecarPath(image)) << SidecarText(layout);
}

// The identity of `image`, created empty where there is none: its sidecar is read only beside it.
FileIdentity ImageFile(const std::string& image) {
  std::ofstream(image, std::ios::app).flush();
  struct stat st {};
  stat(image.c_str(), &st);
  return IdentityOf(st);
}

}  // namespace

TEST(ImageFormat, ASidecarRoundTripsAndWithoutOneTheWholeFileIsTheVolume) {
  TempDir dir;
  const std::string image = dir.File("ntfs.img");
  const FileIdentity file = ImageFile(image);
  EXPECT_EQ(ReadImageLayout(image, 4096, file).volumeBytes, 4096u);
  EXPECT_FALSE(ReadImageLayout(image, 4096, file).described);

  ImageLayout layout;
  layout.volumeBytes = 12581888;
  layout.tailBytes = 512;
  layout.source = "X:";
  layout.fileSystem = "NTFS";
  layout.partitionOffset = 38797312;
  layout.hash = "sha256";
  layout.digest = std::string(62, '0') + "ff";
  WriteSidecar(image, layout);
  const ImageLayout read = ReadImageLayout(image, 12582400, file);
  EXPECT_TRUE(read.described);
  EXPECT_EQ(read.volumeBytes, layout.volumeBytes);
  EXPECT_EQ(read.tailBytes, 512u);
  EXPECT_EQ(read.fileSystem, "NTFS");
  EXPECT_EQ(read.partitionOffset, layout.partitionOffset);
  EXPECT_EQ(read.digest, layout.digest);
}

TEST(ImageFormat, RefusesASidecarThatDisagreesWithTheImage) {
  TempDir dir;
  const std::string image = dir.File("image");
  const FileIdentity file = ImageFile(image);
  ImageLayout layout;
  layout.volumeBytes = 1024;
  layout.tailBytes = UINT64_MAX - 511;  // would wrap to the right total
  WriteSidecar(image, layout);
  EXPECT_THROW(ReadImageLayout(image, 512, file), Failure);
  std::ofstream(SidecarPath(image)) << "{\"format\": \"kestro image\"";
  EXPECT_THROW(ReadImageLayout(image, 512, file), Failure);
  std::ofstream(SidecarPath(image)) << "{\"format\": \"something else\", \"version\": 1}";
  EXPECT_THROW(ReadImageLayout(image, 512, file), Failure);
}
