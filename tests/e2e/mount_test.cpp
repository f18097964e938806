// kestro mount: every kind of image of an ext4 volume served as DIR/volume, loop-mounted
// read-only, and its files compared with the originals; a damaged frame fails its reads with EIO
// and the image still unmounts. Every mount is undone, failures included.
#include <unistd.h>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

constexpr uint64_t kVolumeBytes = 48ull << 20;

// Mounts made during a test, undone in reverse order however the test ends.
class Mounts {
 public:
  ~Mounts() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) RunCommand(*it);
  }
  void Undo(const std::string& command) { undo_.push_back(command); }

 private:
  std::vector<std::string> undo_;
};

class Mount : public KestroTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
    if (!HaveTool("fusermount3") || !HaveTool("mkfs.ext4")) GTEST_SKIP() << "no fuse3 or e2fsprogs";
    KestroTest::SetUp();
    const std::string files = dir.File("files");
    ASSERT_EQ(RunCommand("mkdir " + ShellQuote(files)).status, 0);
    CreateRandomFile(files + "/a.bin", 3u << 20);
    CreateRandomFile(files + "/b.bin", 123457);
    volume = dir.File("ext4.vol");
    CreateRandomFile(volume, kVolumeBytes);
    const auto made =
        RunCommand("mkfs.ext4 -q -F -d " + ShellQuote(files) + " " + ShellQuote(volume));
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* folder : {"fuse", "loop"}) {
      ASSERT_EQ(RunCommand("mkdir " + ShellQuote(dir.File(folder))).status, 0);
    }
  }

  // Serves `image`, loop-mounts its volume and compares both files; all unmounted again.
  void ExpectFiles(const std::string& image) {
    Mounts mounts;
    const std::string fuse = dir.File("fuse");
    const std::string loop = dir.File("loop");
    mounts.Undo("fusermount3 -u " + ShellQuote(fuse));
    const auto served = Kestro("mount " + ShellQuote(image) + " " + ShellQuote(fuse));
    ASSERT_EQ(served.status, 0) << served.output;
    EXPECT_EQ(FileSize(fuse + "/volume"), kVolumeBytes);
    mounts.Undo("umount " + ShellQuote(loop));
    const auto mounted =
        RunCommand("mount -o loop,ro " + ShellQuote(fuse + "/volume") + " " + ShellQuote(loop));
    ASSERT_EQ(mounted.status, 0) << mounted.output;
    for (const char* name : {"a.bin", "b.bin"}) {
      EXPECT_EQ(Sha256(loop + "/" + name), Sha256(dir.File(std::string("files/") + name))) << name;
    }
  }

  std::string volume;
};

TEST_F(Mount, EveryKindOfImageShowsItsFiles) {
  for (const char* kind : {"", "--compress zstd:3,frame=256K", "--rescue", "--used-only"}) {
    SCOPED_TRACE(kind);
    const std::string image = dir.File("image");
    RunCommand("rm -f " + ShellQuote(image) + "*");
    const auto backup =
        Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q " + kind);
    ASSERT_EQ(backup.status, 0) << backup.output;
    ExpectFiles(std::string(kind).starts_with("--compress") ? image + ".zst" : image);
  }
  EXPECT_EQ(RunCommand("grep -c " + ShellQuote(dir.path()) + " /proc/mounts").output, "0\n");
}

TEST_F(Mount, OnlyAnEmptyFolderIsMountedOn) {
  const std::string image = dir.File("image");
  ASSERT_EQ(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q").status, 0);
  const std::string files = dir.File("files");  // what a mount on it would hide
  for (const std::string& place : {volume, files}) {
    const auto served = Kestro("mount " + ShellQuote(image) + " " + ShellQuote(place));
    RunCommand("fusermount3 -u -q " + ShellQuote(place));
    EXPECT_EQ(served.status, 1) << served.output;
    EXPECT_NE(served.output.find(place + ": is not "), std::string::npos) << served.output;
  }
}

TEST_F(Mount, ADamagedFrameFailsItsReadsAndTheImageStillUnmounts) {
  const std::string image = dir.File("image.zst");
  ASSERT_EQ(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q --compress zstd")
                .status,
            0);
  WriteBytes(image, FileSize(image) / 2, std::vector<uint8_t>(64, 0xA5));
  const auto verified =
      Kestro("mount --verify " + ShellQuote(image) + " " + ShellQuote(dir.File("fuse")));
  EXPECT_EQ(verified.status, 1) << verified.output;
  {
    Mounts mounts;
    const std::string fuse = dir.File("fuse");
    mounts.Undo("fusermount3 -u " + ShellQuote(fuse));
    const auto served = Kestro("mount " + ShellQuote(image) + " " + ShellQuote(fuse));
    ASSERT_EQ(served.status, 0) << served.output;
    const auto read =
        RunCommand("dd status=none of=/dev/null bs=1M if=" + ShellQuote(fuse + "/volume"));
    EXPECT_NE(read.status, 0);
    EXPECT_NE(read.output.find("Input/output error"), std::string::npos) << read.output;
  }
  EXPECT_EQ(RunCommand("grep -c " + ShellQuote(dir.path()) + " /proc/mounts").output, "0\n");
}

}  // namespace
}  // namespace kestro::testing
