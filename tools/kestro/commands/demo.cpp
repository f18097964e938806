// kestro demo: unpacks the bundled sample disk into a temporary folder, maps its two partitions
// to drive letters and runs info, backup and verify on each, saying what it does.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/sample.h"
#include "support/errors.h"
#include "support/sizes.h"

namespace kestro::cli {

namespace {

struct DemoOptions {
  bool keep = false;   // leave the unpacked sample and the images in place
  bool quiet = false;  // no progress bars
};

// A fresh folder under the temporary folder, removed with its contents unless kept.
class DemoFolder {
 public:
  explicit DemoFolder(bool keep) : keep_(keep) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestro-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw Failure(pattern, "cannot create a temporary folder: " + DescribeErrno(errno));
    }
    path_ = pattern;
  }
  ~DemoFolder() {
    std::error_code ignored;
    if (!keep_) std::filesystem::remove_all(path_, ignored);
  }
  DemoFolder(const DemoFolder&) = delete;
  DemoFolder& operator=(const DemoFolder&) = delete;

  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool keep_;
};

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

struct DemoVolume {
  unsigned partition;
  const char* fileSystem;
};

// Each runs as the line it prints would, through the command's own parser.
void RunOn(const std::string& drive, const std::string& image, const DemoOptions& options) {
  std::vector<std::string> transfer{drive, image};
  if (options.quiet) transfer.push_back("--quiet");
  Say("\n$ kestro info " + drive);
  RunCommandLine(AddInfo, {drive});
  Say("\n$ kestro backup " + drive + " " + image);
  RunCommandLine(AddBackup, transfer);
  Say("\n$ kestro verify " + drive + " " + image);
  RunCommandLine(AddVerify, transfer);
}

int RunDemo(const DemoOptions& options) {
  static constexpr DemoVolume kVolumes[] = {{kSampleFatPartition, "FAT32"},
                                            {kSampleNtfsPartition, "NTFS"}};
  DemoFolder folder(options.keep);
  const std::string disk = folder.File("sample-disk.img");
  Say("Unpacking the bundled sample disk (MBR: FAT32 in partition 1, NTFS in partition 2) into " +
      folder.path());
  const uint64_t size = UnpackXz(EmbeddedSampleDisk(), disk);
  Say("  " + disk + ": " + FormatBytes(size) + " from " + FormatBytes(EmbeddedSampleDisk().size()) +
      " compressed");

  std::vector<std::unique_ptr<ScopedDriveMapping>> mappings;
  std::vector<std::string> drives;
  for (const DemoVolume& volume : kVolumes) {
    const char letter = FreeDriveLetter();
    if (letter == 0) throw Failure(disk, "no free drive letter to map the sample to");
    mappings.push_back(std::make_unique<ScopedDriveMapping>(letter, disk, volume.partition));
    drives.push_back(std::string(1, letter) + ":");
    Say("Mapped " + drives.back() + " to partition " + std::to_string(volume.partition) + " (" +
        volume.fileSystem + "); in a shell: KESTRO_DRIVE_" + std::string(1, letter) + "=" + disk +
        " KESTRO_DRIVE_" + std::string(1, letter) +
        "_PARTITION=" + std::to_string(volume.partition));
  }
  for (size_t i = 0; i < drives.size(); ++i) {
    RunOn(drives[i], folder.File("partition" + std::to_string(kVolumes[i].partition) + ".img"),
          options);
  }
  Say(options.keep ? "\nThe sample disk and the images are in " + folder.path()
                   : "\nDone; the temporary folder is removed (keep it with --keep).");
  return kExitSuccess;
}

}  // namespace

Command AddDemo(CLI::App& app) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* demo = app.add_subcommand("demo", "Run info, backup and verify on the bundled sample");
  demo->add_flag("--keep", options->keep, "Keep the unpacked sample and the images");
  demo->add_flag("-q,--quiet", options->quiet, "No progress bars");
  return {demo, [options] { return RunDemo(*options); }};
}

}  // namespace kestro::cli
