#include "image/read/zstd_seekable_reader.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <xxhash.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "support/errors.h"
#include "support/positional_read.h"

namespace kestro::cli {
namespace {

bool CarriesChecksum(const std::vector<uint8_t>& frame) {
  ZSTD_frameHeader header{};
  return ZSTD_getFrameHeader(&header, frame.data(), frame.size()) == 0 && header.checksumFlag != 0;
}

}  // namespace

SeekableZstdReader::SeekableZstdReader(std::unique_ptr<InputStream> input, SeekTable table)
    : input_(std::move(input)), table_(std::move(table)), context_(ZSTD_createDCtx()) {
  if (context_ == nullptr) throw std::bad_alloc();
  uint64_t image = 0;
  uint64_t file = table_.firstFrameOffset;
  uint64_t largest = 1;
  for (const SeekFrame& frame : table_.frames) {
    imageStarts_.push_back(image);
    fileStarts_.push_back(file);
    image += frame.imageBytes;
    file += frame.compressedBytes;
    largest = std::max<uint64_t>(largest, frame.imageBytes);
  }
  imageStarts_.push_back(image);
  cacheLimit_ =
      static_cast<size_t>(std::clamp<uint64_t>(kCachedFrameBytes / largest, 1, kCachedFrames));
}

SeekableZstdReader::~SeekableZstdReader() {
  ZSTD_freeDCtx(context_);
}

size_t SeekableZstdReader::FrameAt(uint64_t offset) const {
  const auto after = std::upper_bound(imageStarts_.begin(), imageStarts_.end(), offset);
  return static_cast<size_t>(after - imageStarts_.begin()) - 1;
}

void SeekableZstdReader::Decode(size_t index, uint8_t* into) {
  const SeekFrame& frame = table_.frames[index];
  const uint64_t at = fileStarts_[index];
  auto fail = [&](const std::string& why) {
    throw Failure(input_->name(), "zstd frame " + std::to_string(index) + " " + why + ", at byte " +
                                      std::to_string(at) + " of the stream (byte " +
                                      std::to_string(imageStarts_[index]) + " of the image)");
  };
  compressed_.resize(frame.compressedBytes);
  if (ReadUpTo(input_->fd(), at, compressed_.data(), compressed_.size(), input_->name()) <
      compressed_.size()) {
    fail("is cut short");
  }
  const size_t result =
      ZSTD_decompressDCtx(context_, into, frame.imageBytes, compressed_.data(), compressed_.size());
  if (ZSTD_isError(result)) fail(std::string("is damaged (") + ZSTD_getErrorName(result) + ")");
  if (result != frame.imageBytes) fail("decodes to another size than the seek table records");
  // The decoder has already checked a frame that carries its own checksum.
  if (table_.checksummed && !CarriesChecksum(compressed_) &&
      static_cast<uint32_t>(XXH64(into, frame.imageBytes, 0)) != frame.checksum) {
    fail("does not match its checksum in the seek table");
  }
}

const uint8_t* SeekableZstdReader::Frame(size_t index) {
  ++uses_;
  for (Cached& cached : cache_) {
    if (cached.index != index) continue;
    cached.lastUse = uses_;
    return cached.bytes.data();
  }
  if (cache_.size() < cacheLimit_) cache_.emplace_back();
  Cached& slot =
      *std::min_element(cache_.begin(), cache_.end(),
                        [](const Cached& a, const Cached& b) { return a.lastUse < b.lastUse; });
  slot.index = table_.frames.size();  // no frame until decoded, so that a failure leaves none
  slot.bytes.resize(table_.frames[index].imageBytes);
  Decode(index, slot.bytes.data());
  slot.index = index;
  slot.lastUse = uses_;
  return slot.bytes.data();
}

void SeekableZstdReader::Read(uint64_t offset, void* buffer, size_t length) {
  if (offset > size() || length > size() - offset) {
    throw Failure(input_->name(), "ends early, at byte " + std::to_string(size()));
  }
  const std::lock_guard lock(mutex_);
  auto* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    const size_t index = FrameAt(offset);
    const uint64_t within = offset - imageStarts_[index];
    const size_t frameBytes = table_.frames[index].imageBytes;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(length, frameBytes - within));
    if (within == 0 && take == frameBytes) {
      Decode(index, out);
    } else {
      std::memcpy(out, Frame(index) + within, take);
    }
    out += take;
    offset += take;
    length -= take;
  }
}

}  // namespace kestro::cli
