// kestro mount IMAGE DIR: serves any image (raw, sparse, used-only, rescue, seekable zstd) as
// the read-only file DIR/volume, for a loop mount that shows its files.
#include <sys/stat.h>

#include <cstdio>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/image_format.h"
#include "image/read/open_image.h"
#include "image/read/zstd_seekable_reader.h"
#include "mount/fuse_image_server.h"
#include "support/errors.h"
#include "support/standard_streams.h"
#include "transfer/image_checks.h"

namespace kestro::cli {
namespace {

struct MountOptions {
  std::string image;
  std::string folder;
  bool foreground = false;
  bool allowOther = false;
  bool verify = false;  // check the whole image against its recorded digest first
  bool force = false;
  bool quiet = false;
};

// The image file's mode and owner, which the served file takes over.
struct stat StatOf(const ImageReader& image, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !image.file() ||
      static_cast<uint64_t>(st.st_ino) != image.file()->inode ||
      static_cast<uint64_t>(st.st_dev) != image.file()->device) {
    throw Failure(path, "was replaced while it was opened");
  }
  return st;
}

void WarnAboutSlowOrZeroedReads(const ImageReader& image, const ImageLayout& layout,
                                const std::string& path) {
  if (image.compression() != std::string("none") &&
      dynamic_cast<const SeekableZstdReader*>(&image) == nullptr) {
    Warn(path,
         "is a zstd stream without a seek table (made by an earlier kestro or another tool): "
         "a read decodes it from its start, which is slow");
  }
  if (layout.unreadableBytes > 0) {
    Warn(path, std::to_string(layout.unreadableBytes) +
                   " bytes of its volume were unreadable and read as zeros");
  }
}

int RunMount(const MountOptions& options) {
  if (options.image == kStandardStream) {
    throw UsageError(options.image, "mount serves an image file, not standard input");
  }
  const auto image = OpenImage(options.image);
  const ImageLayout layout = ReadImageLayout(options.image, image->size(), *image->file());
  const CheckSettings checks{options.image, options.force, options.quiet, kDefaultBufferSize};
  RequireCompression(layout, *image, checks);
  RequireCompleteImage(layout, checks);
  if (options.verify) {
    RequireCheckableImage(layout, *image, checks);
    RequireRecordedDigest(*image, layout, checks);
  }
  WarnAboutSlowOrZeroedReads(*image, layout, options.image);
  const struct stat st = StatOf(*image, options.image);
  const MountFolder folder(options.folder);
  ServeImage(*image, st, folder, FuseSettings{options.foreground, options.allowOther});
  return kExitSuccess;
}

}  // namespace

Command AddMount(CLI::App& app) {
  struct CommandLine {
    MountOptions options;
    std::string fuseOptions;  // "allow_other" or ""
  };
  auto line = std::make_shared<CommandLine>();
  MountOptions& options = line->options;
  CLI::App* mount = app.add_subcommand("mount", "Serve an image read-only as the file DIR/volume");
  AddImage(*mount, options.image, "The image file to serve");
  mount->add_option("DIR", options.folder, "An empty folder to mount on")->required();
  mount->add_flag("-f,--foreground", options.foreground, "Stay in the foreground until unmounted");
  mount->add_option("-o", line->fuseOptions, "allow_other: let other users open DIR/volume")
      ->check(CLI::IsMember({"allow_other"}));
  mount->add_flag("--verify", options.verify, "Check the whole image against its digest first");
  mount->add_flag("--force", options.force, "Serve even an incomplete image");
  mount->add_flag("-q,--quiet", options.quiet, "No progress bar");
  return {mount, [line] {
            line->options.allowOther = line->fuseOptions == "allow_other";
            return RunMount(line->options);
          }};
}

}  // namespace kestro::cli
