// The block loops behind backup, restore and verify. An image is a row of segments (the volume's
// bytes, then the partition's tail), each a byte range of a device placed at an image offset.
// Every loop moves one block at a time, checks for Ctrl-C between blocks, and feeds the hashing
// thread blocks it has finished with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/read/image_reader.h"
#include "support/digest.h"
#include "transfer/progress_bar.h"
#include "transfer/rescue.h"
#include "volume/segment.h"

namespace kestro::cli {

class ImageSink;

// Everything a loop needs to know besides its data.
struct LoopSettings {
  std::string subject;  // names the volume in messages
  size_t blockSize = 0;
  HashKind hash = HashKind::kSha256;
  ProgressBar* progress = nullptr;
};

// Reads the segments into the image and returns the image's digest. With a rescue map, blocks
// that cannot be read are rescued sector by sector; without one the first failed read stops with
// its offset.
std::string ReadIntoImage(const std::vector<Segment>& segments, ImageSink& image,
                          const LoopSettings& settings, RescueMap* rescue);

// Writes the image into the segments and returns the digest of what was written; `*written`
// counts the bytes written so far, also when this fails. Each loop that reads the whole image
// checks that it ends where it should.
std::string WriteFromImage(ImageReader& image, const std::vector<Segment>& segments,
                           const LoopSettings& settings, uint64_t* written);

// Reads the segments back and returns their digest.
std::string DigestSegments(const std::vector<Segment>& segments, const LoopSettings& settings);

// Reads the whole image and returns its digest.
std::string DigestImage(ImageReader& image, const LoopSettings& settings);

// The image offset of the first byte where the segments and the image differ, if any.
std::optional<uint64_t> FirstDifference(ImageReader& image, const std::vector<Segment>& segments,
                                        const LoopSettings& settings);

}  // namespace kestro::cli
