#include "image/sample.h"

#include <lzma.h>

#include <vector>

#include "image/write/sparse_image_writer.h"
#include "support/errors.h"

extern "C" const char kestro_sample_disk_begin[];
extern "C" const char kestro_sample_disk_end[];

namespace kestro::cli {
namespace {

constexpr size_t kChunk = 1 << 20;

std::string LzmaReason(lzma_ret result) {
  switch (result) {
    case LZMA_MEM_ERROR:
      return "out of memory";
    case LZMA_FORMAT_ERROR:
      return "not xz data";
    case LZMA_DATA_ERROR:
    case LZMA_BUF_ERROR:
      return "damaged or cut-off xz data";
    default:
      return "xz error " + std::to_string(static_cast<int>(result));
  }
}

// Ends the decoder on every way out.
struct Decoder {
  lzma_stream stream = LZMA_STREAM_INIT;
  Decoder() = default;
  ~Decoder() { lzma_end(&stream); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
};

// The unpacked sample is a disk like any other the user backs up.
constexpr mode_t kPrivateMode = 0600;

}  // namespace

std::string_view EmbeddedSampleDisk() {
  return std::string_view(kestro_sample_disk_begin,
                          static_cast<size_t>(kestro_sample_disk_end - kestro_sample_disk_begin));
}

uint64_t UnpackXz(std::string_view compressed, const std::string& path) {
  Decoder decoder;
  lzma_stream& stream = decoder.stream;
  lzma_ret result = lzma_stream_decoder(&stream, UINT64_MAX, 0);
  if (result != LZMA_OK) throw Failure(path, "cannot unpack: " + LzmaReason(result));
  const ImageFolder folder(path);
  SparseImageWriter out(folder, folder.image(), kPrivateMode);
  std::vector<uint8_t> chunk(kChunk);
  stream.next_in = reinterpret_cast<const uint8_t*>(compressed.data());
  stream.avail_in = compressed.size();
  do {
    stream.next_out = chunk.data();
    stream.avail_out = chunk.size();
    result = lzma_code(&stream, LZMA_FINISH);
    if (result != LZMA_OK && result != LZMA_STREAM_END) {
      throw Failure(path, "cannot unpack: " + LzmaReason(result));
    }
    out.Write(chunk.data(), chunk.size() - stream.avail_out);
  } while (result != LZMA_STREAM_END);
  out.Commit();
  return out.size();
}

}  // namespace kestro::cli
