// The frames of a zstd file, walked through their headers without decoding: a file may hold
// several frames one after the other (the zstd tool writes them so when files are concatenated,
// and skippable frames carry other data), and the image is what all of them decode to.
#pragma once

#include <cstdint>
#include <string>

namespace kestro::cli {

struct ZstdFrames {
  uint64_t contentBytes = 0;  // what the frames decode to, when every one of them says
  bool sizesKnown = true;
  bool checksummed = true;  // every data frame carries a checksum of what it decodes to
};

// What the frame whose header starts `header` says of itself (a skippable frame decodes to
// nothing). Throws Failure naming `name` when the header is damaged.
ZstdFrames DescribeFirstFrame(const std::string& header, const std::string& name);

// Walks the frames of the zstd file `fileBytes` long open on `fd`; a file that ends inside a frame
// stops the walk there, for the decoder to report. Throws Failure naming `name` and the byte
// where a frame header is damaged.
ZstdFrames WalkZstdFrames(int fd, uint64_t fileBytes, const std::string& name);

}  // namespace kestro::cli
