#include "zstd_writer.h"

#include <zstd.h>

#include <algorithm>
#include <new>
#include <thread>

#include "errors.h"

namespace kestro::cli {
namespace {

// Large enough that a write to the file or pipe carries many compressed blocks.
constexpr size_t kOutputBuffer = 1u << 20;

void Check(size_t result, const char* what) {
  if (ZSTD_isError(result)) {
    throw Failure("zstd", std::string(what) + ": " + ZSTD_getErrorName(result));
  }
}

}  // namespace

ZstdWriter::ZstdWriter(ImageSink& out, int level, uint64_t imageBytes)
    : out_(out), context_(ZSTD_createCCtx()), buffer_(kOutputBuffer) {
  if (context_ == nullptr) throw std::bad_alloc();
  const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  try {
    Check(ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, level), "level");
    Check(ZSTD_CCtx_setParameter(context_, ZSTD_c_checksumFlag, 1), "checksum");
    Check(ZSTD_CCtx_setParameter(context_, ZSTD_c_nbWorkers, workers), "worker threads");
    Check(ZSTD_CCtx_setPledgedSrcSize(context_, imageBytes), "content size");
  } catch (...) {
    ZSTD_freeCCtx(context_);
    throw;
  }
}

ZstdWriter::~ZstdWriter() {
  ZSTD_freeCCtx(context_);
}

size_t ZstdWriter::Step(const uint8_t* data, size_t length, size_t* consumed, bool end) {
  ZSTD_inBuffer input{data, length, *consumed};
  ZSTD_outBuffer output{buffer_.data(), buffer_.size(), 0};
  const size_t left =
      ZSTD_compressStream2(context_, &output, &input, end ? ZSTD_e_end : ZSTD_e_continue);
  Check(left, "cannot compress");
  *consumed = input.pos;
  if (output.pos > 0) out_.Write(buffer_.data(), output.pos);
  return left;
}

void ZstdWriter::Write(const uint8_t* data, size_t length) {
  size_t consumed = 0;
  while (consumed < length) Step(data, length, &consumed, false);
}

void ZstdWriter::Finish() {
  size_t consumed = 0;
  while (Step(nullptr, 0, &consumed, true) != 0) {
  }
  out_.Finish();
}

}  // namespace kestro::cli
