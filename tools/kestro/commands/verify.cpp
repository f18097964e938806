// kestro verify VOLUME IMAGE: compares the volume (and its partition's tail, where the image has
// one) with an image, a file or standard input ("-"), and reports the first byte that differs.
#include <cstdio>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/image_format.h"
#include "image/read/open_image.h"
#include "support/errors.h"
#include "support/printable.h"
#include "transfer/block_loops.h"
#include "transfer/image_checks.h"
#include "used/image_spans.h"
#include "used/span_segments.h"
#include "volume/image_placement.h"

namespace kestro::cli {
namespace {

struct VerifyOptions {
  VolumeArgs volume;
  std::string image;
  bool force = false;
  uint64_t bufferSize = kDefaultBufferSize;
  bool quiet = false;
};

int RunVerify(const VerifyOptions& options) {
  Volume volume(options.volume, OpenOptions{false, options.bufferSize});
  // A stream that does not record its size is taken to be the whole partition, as backup writes it.
  const auto image = OpenImage(options.image, volume.size() + volume.tail_bytes());
  const ImageLayout layout = options.image == kStandardStream
                                 ? ImageLayout{}
                                 : ReadImageLayout(options.image, image->size(), *image->file());
  const CheckSettings checks{options.image, options.force, options.quiet, options.bufferSize};
  RequireCompression(layout, *image, checks);
  RequireCompleteImage(layout, checks);
  RequireImageCoversVolume(layout, image->size(), volume.size(), volume.name(), checks);
  ImagePlacement placement(volume, image->size(), false);
  const std::vector<Extent> spans = ImageSpans(*image, layout, options.image);
  const SpanSegments segments(placement.segments(), spans, false);
  ProgressBar progress(stderr, !options.quiet, TotalLength(spans));
  const LoopSettings settings{volume.name(), options.bufferSize, HashKind::kNone, &progress};
  if (const auto offset = FirstDifference(*image, segments.segments(), settings)) {
    throw Failure(volume.name(),
                  "differs from " + options.image + " at byte " + std::to_string(*offset));
  }
  std::printf("%s matches %s: %llu bytes compared", Printable(volume.name()).c_str(),
              Printable(options.image).c_str(),
              static_cast<unsigned long long>(TotalLength(spans)));
  if (image->size() < volume.size()) {
    std::printf(" (the volume's last %llu bytes are not in the image)",
                static_cast<unsigned long long>(volume.size() - image->size()));
  }
  std::printf("\n");
  if (layout.usedOnly) {
    std::printf("used-only image: compared %s\n", DescribeSpans(spans, image->size()).c_str());
  }
  return kExitSuccess;
}

}  // namespace

Command AddVerify(CLI::App& app) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* verify = app.add_subcommand("verify", "Compare a volume with an image");
  AddVolume(*verify, options->volume);
  AddImage(*verify, options->image, "The image file to compare with, or - for standard input");
  verify->add_flag("--force", options->force,
                   "Compare even an image that is incomplete or shorter than the volume");
  AddBuffer(*verify, options->bufferSize);
  verify->add_flag("-q,--quiet", options->quiet, "No progress bar");
  return {verify, [options] { return RunVerify(*options); }};
}

}  // namespace kestro::cli
