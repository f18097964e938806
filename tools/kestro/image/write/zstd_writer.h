// A seekable zstd stream of the image, written into another sink (the image file or standard
// output): a small frame recording the image's size, independent frames of `frameBytes` of image
// each (compressed on worker threads, each with its content size and checksum), then the seek
// table (zstd_seek_table.h). `zstd -d` decodes it to the image; kestro reads any range by
// decoding only the frames that hold it.
#pragma once

#include <cstdint>
#include <vector>

#include "image/read/zstd_seek_table.h"
#include "image/write/image_sink.h"
#include "image/write/zstd_frame_pool.h"

namespace kestro::cli {

inline constexpr int kDefaultZstdLevel = 3;
inline constexpr int kLargestZstdLevel = 19;
inline constexpr uint64_t kDefaultZstdFrameBytes = 1u << 20;
inline constexpr uint64_t kSmallestZstdFrameBytes = 64u << 10;
inline constexpr uint64_t kLargestZstdFrameBytes = 64u << 20;

class ZstdWriter : public ImageSink {
 public:
  // Compresses exactly `imageBytes` bytes at `level` into `out`, in frames of `frameBytes`.
  ZstdWriter(ImageSink& out, int level, uint64_t imageBytes, uint64_t frameBytes);

  void Write(const uint8_t* data, size_t length) override;
  // Writes the last frames and the seek table; throws Failure unless exactly the declared bytes
  // were written.
  void Finish() override;

 private:
  void Submit();
  void WriteOldest();

  ImageSink& out_;
  uint64_t declared_;
  uint64_t written_ = 0;
  size_t frameBytes_;
  std::vector<uint8_t> current_;
  std::vector<SeekFrame> table_;
  ZstdFramePool pool_;
};

}  // namespace kestro::cli
