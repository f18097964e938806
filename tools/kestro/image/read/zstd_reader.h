// A zstd-compressed image, decoded as it is read. Damage and a stream cut short fail with the
// byte of the stream and of the image where decoding stopped.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/read/forward_reader.h"
#include "image/read/input_stream.h"

struct ZSTD_DCtx_s;

namespace kestro::cli {

// True when `input` starts with a zstd frame.
bool IsZstdStream(InputStream& input);

class ZstdReader : public ForwardReader {
 public:
  // Reads the zstd stream `input`: a file's frames one after another, or standard input given
  // `streamSize`. A file's size is the sum its frame headers record; standard input's is what its
  // first frame records. Without that the image is `streamSize` long (standard input, which
  // cannot be read twice), or the file is decoded once to count.
  static std::unique_ptr<ZstdReader> Open(std::unique_ptr<InputStream> input,
                                          std::optional<uint64_t> streamSize);
  ~ZstdReader() override;
  ZstdReader(const ZstdReader&) = delete;
  ZstdReader& operator=(const ZstdReader&) = delete;

  const char* compression() const override { return "zstd"; }
  bool checksummed() const override { return checksummed_; }

 protected:
  size_t ReadNext(uint8_t* buffer, size_t length) override;
  void Restart() override;
  std::string BeyondEnd() const override;

 private:
  explicit ZstdReader(std::unique_ptr<InputStream> input);
  [[noreturn]] void Fail(const std::string& what, uint64_t imageOffset) const;

  std::unique_ptr<InputStream> input_;
  ZSTD_DCtx_s* context_;
  std::vector<uint8_t> compressed_;
  size_t used_ = 0;    // bytes of compressed_ already decoded
  size_t filled_ = 0;  // bytes of compressed_ read from the input
  bool frameEnded_ = false;
  bool checksummed_ = false;
  bool firstFrameOnly_ = false;  // the size is what standard input's first frame records
};

}  // namespace kestro::cli
