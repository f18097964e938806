// Data the kernel says is in use is never written over, whatever name leads to it and whatever
// --force says; a backup never lands on a file system stored in its own source.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>

#include "kestro_support.h"

namespace kestro::testing {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kTargetSize = 256ull << 20;

// Everything a set-up attached, mounted or switched on, undone in reverse order however the
// test ends.
struct InUseSetUp {
  std::vector<LoopDevice> loops;
  std::vector<ScopedMount> mounts;
  std::vector<NtfsMount> fuseMounts;
  std::vector<NamespaceMount> namespaces;
  std::optional<ScopedSwap> swap;
  std::string whyNot;  // set when the machine cannot make the set-up
  // The leading bytes of a target that nothing but kestro would change.
  uint64_t untouchedBytes = 16 << 20;

  // The new loop device over `file`, or "" with whyNot set.
  std::string Attach(const std::string& file) {
    auto loop = LoopDevice::Attach(file, &whyNot);
    if (!loop) return "";
    loops.push_back(std::move(*loop));
    return loops.back().device();
  }
  bool Mount(const std::string& source, const std::string& mountPoint,
             const std::string& options = "") {
    fs::create_directory(mountPoint);
    auto mount = ScopedMount::Kernel(source, mountPoint, &whyNot, options);
    if (mount) mounts.push_back(std::move(*mount));
    return mount.has_value();
  }
};

// A file of `size` bytes, zero and sparse.
std::string Sparse(const TempDir& dir, const std::string& name, uint64_t size = kTargetSize) {
  const std::string path = dir.File(name);
  CreateSparseFile(path, size);
  return path;
}

std::string MakeExt4Image(const TempDir& dir, const std::string& name) {
  const std::string path = Sparse(dir, name);
  MakeExt4(path, kTargetSize);
  return path;
}

bool Ran(InUseSetUp& setUp, const std::string& command) {
  const CommandResult result = RunCommand(command);
  if (result.status != 0) setUp.whyNot = command + ": " + result.output;
  return result.status == 0;
}

// The targets a restore must refuse, in a set-up made in `dir`.
using InUseCase = std::function<std::vector<std::string>(const TempDir&, InUseSetUp&)>;

std::vector<std::string> SecondDeviceOfABtrfsPair(const TempDir& dir, InUseSetUp& setUp) {
  const std::string first = setUp.Attach(Sparse(dir, "b1.img"));
  const std::string second = setUp.Attach(Sparse(dir, "b2.img"));
  if (second.empty() ||
      !Ran(setUp, "mkfs.btrfs -q -f -d raid1 -m raid1 " + first + " " + second + " 2>&1") ||
      !setUp.Mount(first, dir.File("btrfs"))) {
    return {};
  }
  return {second, dir.File("b2.img")};
}

std::vector<std::string> AnExternalJournal(const TempDir& dir, InUseSetUp& setUp) {
  const std::string journal = setUp.Attach(Sparse(dir, "journal.img", 16 << 20));
  const std::string data = setUp.Attach(Sparse(dir, "data.img"));
  if (data.empty() || !Ran(setUp, "mke2fs -q -O journal_dev -b 4096 " + journal) ||
      !Ran(setUp, "mkfs.ext4 -q -b 4096 -J device=" + journal + " " + data) ||
      !setUp.Mount(data, dir.File("ext4"))) {
    return {};
  }
  return {dir.File("journal.img"), journal};
}

std::vector<std::string> AMountInAnotherNamespace(const TempDir& dir, InUseSetUp& setUp) {
  const std::string image = MakeExt4Image(dir, "hidden.img");
  fs::create_directory(dir.File("hidden"));
  auto mount = NamespaceMount::Mount(image, dir.File("hidden"), &setUp.whyNot);
  if (!mount) return {};
  setUp.namespaces.push_back(std::move(*mount));
  return {image};
}

std::vector<std::string> AHardLinkToAMountedImageWithoutItsName(const TempDir& dir,
                                                                InUseSetUp& setUp) {
  const std::string image = MakeExt4Image(dir, "linked.img");
  const std::string link = dir.File("link.img");
  fs::create_hard_link(image, link);
  if (setUp.Attach(image).empty() || !setUp.Mount(setUp.loops.back().device(), dir.File("l"))) {
    return {};
  }
  fs::remove(image);
  return {link};
}

std::vector<std::string> ASwapAreaOnALoopDevice(const TempDir& dir, InUseSetUp& setUp) {
  const std::string image = Sparse(dir, "swap.img", 32 << 20);
  const std::string loop = setUp.Attach(image);
  if (loop.empty()) return {};
  setUp.swap.emplace(loop);
  // The kernel may page out into the area behind the header while it is on.
  setUp.untouchedBytes = 4096;
  if (!setUp.swap->on()) setUp.whyNot = "swapon is not allowed here";
  return setUp.swap->on() ? std::vector<std::string>{image} : std::vector<std::string>{};
}

std::vector<std::string> ARenamedImageMountedThroughFuse(const TempDir& dir, InUseSetUp& setUp) {
  const std::string image = dir.File("ntfs.img");
  MakeNtfs(image, 32 << 20);
  fs::create_directory(dir.File("ntfs"));
  auto mount = NtfsMount::Mount(image, dir.File("ntfs"), &setUp.whyNot);
  if (!mount) return {};
  setUp.fuseMounts.push_back(std::move(*mount));
  fs::rename(image, dir.File("renamed.img"));
  return {dir.File("renamed.img")};
}

class InUse : public KestroTest {
 protected:
  void SetUp() override {
    KestroTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "loop devices and mounts need root";
  }

  // A small volume's image, which fits every target.
  std::string SmallImage() {
    const std::string volume = dir.File("small.raw");
    MakeFat(volume, 16, 16 << 20);
    const std::string image = dir.File("small.kimg");
    EXPECT_EQ(Kestro("backup " + ShellQuote(volume) + " " + ShellQuote(image) + " -q").status, 0);
    return image;
  }
};

TEST_F(InUse, RestoreRefusesEveryTargetTheKernelSaysIsInUseEvenWhenForced) {
  const std::vector<std::pair<const char*, InUseCase>> cases = {
      {"second device of a two-device btrfs", SecondDeviceOfABtrfsPair},
      {"ext4 external journal", AnExternalJournal},
      {"mount in another namespace", AMountInAnotherNamespace},
      {"hard link to a mounted image without its name", AHardLinkToAMountedImageWithoutItsName},
      {"swap area on a loop device", ASwapAreaOnALoopDevice},
      {"renamed image mounted through FUSE", ARenamedImageMountedThroughFuse},
  };
  const std::string image = SmallImage();
  for (const auto& [name, makeSetUp] : cases) {
    SCOPED_TRACE(name);
    const TempDir place;
    InUseSetUp setUp;
    const std::vector<std::string> targets = makeSetUp(place, setUp);
    if (targets.empty()) {
      std::cout << "skipped " << name << ": " << setUp.whyNot << "\n";
      continue;
    }
    for (const std::string& target : targets) {
      for (const char* force : {"", " --force"}) {
        const std::string before = Sha256(target, 0, setUp.untouchedBytes);
        const auto result =
            Kestro("restore " + ShellQuote(image) + " " + ShellQuote(target) + " -q" + force);
        EXPECT_EQ(result.status, 1) << target << force << ": " << result.output;
        EXPECT_NE(result.output.find(target + ": is mounted or in use"), std::string::npos)
            << result.output;
        EXPECT_EQ(Sha256(target, 0, setUp.untouchedBytes), before) << target << force;
      }
    }
  }
}

TEST_F(InUse, ABackupNeverLandsOnAFileSystemStoredInItsSource) {
  InUseSetUp setUp;
  const std::string ext4 = MakeExt4Image(dir, "ext4.img");
  const std::string btrfs = Sparse(dir, "btrfs.img");
  ASSERT_EQ(RunCommand("mkfs.btrfs -q -f " + ShellQuote(btrfs) + " 2>&1").status, 0);
  // A second loop device over the same image is another name for the mounted bytes.
  const std::string sameBytes = setUp.Attach(ext4);
  // An overlay shows devices of its own, but writes its files into its upper folder.
  const std::string layers =
      "-t overlay -o " + ShellQuote("lowerdir=" + dir.path() + ",upperdir=" + dir.File("e/up") +
                                    ",workdir=" + dir.File("e/work"));
  if (sameBytes.empty() || !setUp.Mount(ext4, dir.File("e")) ||
      !setUp.Mount(btrfs, dir.File("b")) ||
      !Ran(setUp, "mkdir " + dir.File("e/up") + " " + dir.File("e/work")) ||
      !setUp.Mount("overlay", dir.File("o"), layers)) {
    GTEST_SKIP() << setUp.whyNot;
  }
  for (const auto& [source, folder] :
       {std::pair{ext4, dir.File("e")}, std::pair{sameBytes, dir.File("e")},
        std::pair{btrfs, dir.File("b")}, std::pair{ext4, dir.File("o")}}) {
    SCOPED_TRACE(source);
    const auto result =
        Kestro("backup " + ShellQuote(source) + " " + ShellQuote(folder + "/self.img") + " -q");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find(folder + ": lies on a file system stored in " + source),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(fs::exists(folder + "/self.img") || fs::exists(folder + "/self.img.partial"));
  }
}

}  // namespace
}  // namespace kestro::testing
