#include "image/read/zstd_frames.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <unistd.h>
#include <zstd.h>

#include <cerrno>

#include <ondisk/little_endian.h>

#include "support/errors.h"
#include "support/positional_read.h"

namespace kestro::cli {
namespace {

constexpr size_t kBlockHeaderBytes = 3;
constexpr size_t kChecksumBytes = 4;
constexpr unsigned kRleBlock = 1;
constexpr unsigned kReservedBlock = 3;

[[noreturn]] void FailAt(const std::string& name, uint64_t offset) {
  throw Failure(name, "has a damaged zstd frame header, at byte " + std::to_string(offset));
}

// The offset just past the blocks of the frame whose first block header is at `offset`.
uint64_t SkipBlocks(int fd, uint64_t offset, uint64_t fileBytes, const std::string& name) {
  for (;;) {
    uint8_t header[kBlockHeaderBytes];
    if (ReadUpTo(fd, offset, header, sizeof header, name) < sizeof header) return fileBytes;
    const auto bits = static_cast<uint32_t>(ondisk::LittleEndian(header, kBlockHeaderBytes));
    const unsigned type = bits >> 1 & 3;
    if (type == kReservedBlock) FailAt(name, offset);
    offset += kBlockHeaderBytes + (type == kRleBlock ? 1 : bits >> 3);
    if ((bits & 1) != 0 || offset >= fileBytes) return offset;
  }
}

// The header at `offset` of `length` bytes from `data`.
ZSTD_frameHeader ParseHeader(const void* data, size_t length, const std::string& name,
                             uint64_t offset) {
  ZSTD_frameHeader frame{};
  const size_t result = ZSTD_getFrameHeader(&frame, data, length);
  if (ZSTD_isError(result) || result != 0) FailAt(name, offset);
  return frame;
}

void Add(ZstdFrames& frames, const ZSTD_frameHeader& frame) {
  if (frame.frameType == ZSTD_skippableFrame) return;
  if (frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN) frames.sizesKnown = false;
  frames.contentBytes += frames.sizesKnown ? frame.frameContentSize : 0;
  frames.checksummed = frames.checksummed && frame.checksumFlag != 0;
}

}  // namespace

ZstdFrames DescribeFirstFrame(const std::string& header, const std::string& name) {
  ZstdFrames frames;
  Add(frames, ParseHeader(header.data(), header.size(), name, 0));
  return frames;
}

ZstdFrames WalkZstdFrames(int fd, uint64_t fileBytes, const std::string& name) {
  ZstdFrames frames;
  for (uint64_t offset = 0; offset < fileBytes;) {
    uint8_t header[ZSTD_FRAMEHEADERSIZE_MAX];
    const size_t length = ReadUpTo(fd, offset, header, sizeof header, name);
    const ZSTD_frameHeader frame = ParseHeader(header, length, name, offset);
    Add(frames, frame);
    if (frame.frameType == ZSTD_skippableFrame) {
      // Some versions of the library leave a skippable frame's header size unset.
      offset += ZSTD_SKIPPABLEHEADERSIZE + frame.frameContentSize;
      continue;
    }
    offset = SkipBlocks(fd, offset + frame.headerSize, fileBytes, name) +
             (frame.checksumFlag ? kChecksumBytes : 0);
  }
  return frames;
}

}  // namespace kestro::cli
