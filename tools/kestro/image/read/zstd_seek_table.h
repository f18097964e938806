// The seek table of a seekable zstd image: a skippable frame at the end of the file that lists
// every data frame's compressed and decoded size and the checksum of what it decodes to, so that
// a reader finds the frames holding any byte range without decoding those before it. A second,
// small skippable frame at the start records the image's size, which a reader of a stream needs
// before the table arrives. Decoders that know neither frame skip both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::cli {

// The largest frame a reader accepts, as the format itself bounds it.
inline constexpr uint64_t kLargestSeekableFrame = 1u << 30;

struct SeekFrame {
  uint32_t compressedBytes = 0;
  uint32_t imageBytes = 0;
  uint32_t checksum = 0;  // the low 32 bits of the XXH64 of the decoded bytes
};

struct SeekTable {
  std::vector<SeekFrame> frames;
  bool checksummed = false;
  uint64_t firstFrameOffset = 0;  // where the data frames start in the file
  uint64_t imageBytes = 0;        // the sum of the frames' decoded sizes
};

// The skippable frame that records `imageBytes` at the start of the file.
std::string EncodeSizeFrame(uint64_t imageBytes);
// The number of bytes EncodeSizeFrame gives.
size_t SizeFrameBytes();
// The image size a file or stream starting with `start` records, if it starts with a size frame.
std::optional<uint64_t> DecodeSizeFrame(const std::string& start);

// The skippable frame holding the seek table of `frames`, with their checksums.
std::string EncodeSeekTable(const std::vector<SeekFrame>& frames);

// The seek table of the file `fileBytes` long open on `fd`; nothing when the file does not end in
// one. Throws Failure naming `name` when the table is damaged or does not describe the file.
std::optional<SeekTable> ReadSeekTable(int fd, uint64_t fileBytes, const std::string& name);

}  // namespace kestro::cli
