// What restore and verify demand of an image before they let it stand for a volume. Each check
// refuses, naming the file, or with --force warns and lets the command go on.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_format.h"
#include "image/read/image_reader.h"

namespace kestro::cli {

struct CheckSettings {
  std::string image;  // the image's path, as messages name it
  bool force = false;
  bool quiet = false;
  uint64_t bufferSize = 0;
};

// An image whose sidecar says it is incomplete (a backup replaced it and did not finish).
void RequireCompleteImage(const ImageLayout& layout, const CheckSettings& settings);

// An image without a sidecar that is shorter than the volume: its end is missing.
void RequireImageCoversVolume(const ImageLayout& layout, uint64_t imageSize, uint64_t volumeBytes,
                              const std::string& volumeName, const CheckSettings& settings);

// A rescue image whose unreadable sectors were filled with zeros.
void RequireNoUnreadableBytes(const ImageLayout& layout, const CheckSettings& settings);

// An image whose sidecar records another compression than the file has: the sidecar belongs to
// another image.
void RequireCompression(const ImageLayout& layout, const ImageReader& image,
                        const CheckSettings& settings);

// A compressed image without checksums of its own and without a recorded digest: nothing can
// show that what it decodes to is what was compressed.
void RequireCheckableImage(const ImageLayout& layout, const ImageReader& image,
                           const CheckSettings& settings);

// Reads the whole image and compares it with the digest its sidecar records, in the algorithm
// the sidecar names; an image without a recorded digest passes, once a compressed one has been
// decoded whole without a fault.
void RequireRecordedDigest(ImageReader& image, const ImageLayout& layout,
                           const CheckSettings& settings);

}  // namespace kestro::cli
