// A zstd stream of the image, compressed on worker threads into another sink (the image file or
// standard output). The frame records its content size and a checksum, so that a reader can
// check the length before it starts and notice a damaged stream.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/write/image_sink.h"

struct ZSTD_CCtx_s;

namespace kestro::cli {

inline constexpr int kDefaultZstdLevel = 3;
inline constexpr int kLargestZstdLevel = 19;

class ZstdWriter : public ImageSink {
 public:
  // Compresses exactly `imageBytes` bytes at `level` into `out`.
  ZstdWriter(ImageSink& out, int level, uint64_t imageBytes);
  ~ZstdWriter() override;
  ZstdWriter(const ZstdWriter&) = delete;
  ZstdWriter& operator=(const ZstdWriter&) = delete;

  void Write(const uint8_t* data, size_t length) override;
  // Ends the frame; throws Failure unless exactly the declared bytes were written.
  void Finish() override;

 private:
  // Compresses some of `data` from `*consumed` on (or ends the frame) and writes what came out;
  // advances `*consumed` and returns how much the compressor still holds back.
  size_t Step(const uint8_t* data, size_t length, size_t* consumed, bool end);

  ImageSink& out_;
  uint64_t declared_;
  uint64_t written_ = 0;
  ZSTD_CCtx_s* context_;
  std::vector<uint8_t> buffer_;
};

}  // namespace kestro::cli
