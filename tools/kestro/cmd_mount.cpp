// kestro mount IMAGE DIR: serves any image (raw, sparse, used-only, rescue, seekable zstd) as
// the read-only file DIR/volume, for a loop mount that shows its files.
#include <sys/stat.h>

#include <cstdio>

#include "commands.h"
#include "errors.h"
#include "fuse_image_server.h"
#include "image_checks.h"
#include "image_format.h"
#include "image_reader.h"
#include "zstd_seekable_reader.h"

namespace kestro::cli {
namespace {

// The image file's mode and owner, which the served file takes over.
struct stat StatOf(const ImageReader& image, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !image.file() ||
      static_cast<uint64_t>(st.st_ino) != image.file()->inode) {
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

}  // namespace

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
  ServeImage(*image, st, FuseSettings{options.folder, options.foreground, options.allowOther});
  return kExitSuccess;
}

}  // namespace kestro::cli
