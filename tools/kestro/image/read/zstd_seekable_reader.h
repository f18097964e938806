// A seekable zstd image file, read anywhere: the seek table says which frames hold a range, and
// only those are decoded, each checked against its checksum. A few decoded frames are kept for
// reads that come back to them (at most kCachedFrameBytes in all, and never more than
// kCachedFrames frames). Safe to call from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "image/read/image_reader.h"
#include "image/read/input_stream.h"
#include "image/read/zstd_seek_table.h"

struct ZSTD_DCtx_s;

namespace kestro::cli {

inline constexpr uint64_t kCachedFrameBytes = 32u << 20;
inline constexpr size_t kCachedFrames = 8;

class SeekableZstdReader : public ImageReader {
 public:
  // Reads the zstd file `input` through `table`, the seek table it ends with.
  SeekableZstdReader(std::unique_ptr<InputStream> input, SeekTable table);
  ~SeekableZstdReader() override;
  SeekableZstdReader(const SeekableZstdReader&) = delete;
  SeekableZstdReader& operator=(const SeekableZstdReader&) = delete;

  uint64_t size() const override { return table_.imageBytes; }
  const char* compression() const override { return "zstd"; }
  bool checksummed() const override { return table_.checksummed; }

 protected:
  void Read(uint64_t offset, void* buffer, size_t length) override;

 private:
  struct Cached {
    size_t index = 0;
    uint64_t lastUse = 0;
    std::vector<uint8_t> bytes;
  };

  // The frame that holds image byte `offset`.
  size_t FrameAt(uint64_t offset) const;
  // Decodes frame `index` into `into` and checks it; throws Failure naming the frame's bytes.
  void Decode(size_t index, uint8_t* into);
  // Frame `index` decoded, from the cache or into it.
  const uint8_t* Frame(size_t index);

  std::unique_ptr<InputStream> input_;
  SeekTable table_;
  std::vector<uint64_t> imageStarts_;  // per frame, and the image's size last
  std::vector<uint64_t> fileStarts_;
  size_t cacheLimit_;
  std::mutex mutex_;
  ZSTD_DCtx_s* context_;
  std::vector<uint8_t> compressed_;
  std::vector<Cached> cache_;
  uint64_t uses_ = 0;
};

}  // namespace kestro::cli
