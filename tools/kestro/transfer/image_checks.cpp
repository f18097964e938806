#include "transfer/image_checks.h"

#include "support/digest.h"
#include "support/errors.h"
#include "transfer/block_loops.h"
#include "transfer/progress_bar.h"

namespace kestro::cli {
namespace {

void RefuseUnlessForced(const std::string& subject, const std::string& reason,
                        const CheckSettings& settings) {
  if (!settings.force) {
    throw Failure(subject, reason + "; --force goes on anyway");
  }
  Warn(subject, reason + "; going on (--force)");
}

}  // namespace

void RequireCompleteImage(const ImageLayout& layout, const CheckSettings& settings) {
  if (layout.complete) return;
  RefuseUnlessForced(SidecarPath(settings.image),
                     "says its image is incomplete (a backup to it did not finish)", settings);
}

void RequireImageCoversVolume(const ImageLayout& layout, uint64_t imageSize, uint64_t volumeBytes,
                              const std::string& volumeName, const CheckSettings& settings) {
  if (layout.described || imageSize >= volumeBytes) return;
  RefuseUnlessForced(settings.image,
                     "has " + std::to_string(imageSize) + " bytes, fewer than " + volumeName +
                         " (" + std::to_string(volumeBytes) + "), and no sidecar that says why",
                     settings);
}

void RequireNoUnreadableBytes(const ImageLayout& layout, const CheckSettings& settings) {
  if (layout.unreadableBytes == 0) return;
  RefuseUnlessForced(settings.image,
                     "is a rescue image: " + std::to_string(layout.unreadableBytes) +
                         " bytes of its volume were unreadable and are zeros in it",
                     settings);
}

void RequireCompression(const ImageLayout& layout, const ImageReader& image,
                        const CheckSettings& settings) {
  if (!layout.described || layout.compression == image.compression()) return;
  RefuseUnlessForced(SidecarPath(settings.image),
                     "says its image is compressed with " + layout.compression + ", but it is " +
                         image.compression(),
                     settings);
}

void RequireCheckableImage(const ImageLayout& layout, const ImageReader& image,
                           const CheckSettings& settings) {
  const bool compressed = image.compression() != std::string("none");
  const bool recorded = layout.described && !layout.digest.empty();
  if (!compressed || image.checksummed() || recorded) return;
  RefuseUnlessForced(settings.image,
                     "is a zstd stream without checksums and no digest is recorded for it, so "
                     "nothing shows that it decodes to what was compressed",
                     settings);
}

void RequireRecordedDigest(ImageReader& image, const ImageLayout& layout,
                           const CheckSettings& settings) {
  const auto recorded = HashKindNamed(layout.hash);
  const bool hasDigest = layout.described && !layout.digest.empty() && recorded != HashKind::kNone;
  if (hasDigest && !recorded) {
    RefuseUnlessForced(SidecarPath(settings.image),
                       "records a " + layout.hash + " digest, which kestro cannot check", settings);
    return;
  }
  const bool compressed = image.compression() != std::string("none");
  if (!hasDigest && !compressed) return;
  ProgressBar progress(stderr, !settings.quiet, image.size());
  const HashKind kind = hasDigest ? *recorded : HashKind::kNone;
  const std::string actual =
      DigestImage(image, LoopSettings{settings.image, settings.bufferSize, kind, &progress});
  if (actual == layout.digest || !hasDigest) return;
  RefuseUnlessForced(settings.image,
                     "differs from the digest its backup recorded (" + layout.hash + " " + actual +
                         ", recorded " + layout.digest + ")",
                     settings);
}

}  // namespace kestro::cli
