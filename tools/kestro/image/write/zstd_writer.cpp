#include "image/write/zstd_writer.h"

#include <zstd.h>

#include <algorithm>
#include <new>
#include <thread>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// Large enough that one write to the file or pipe carries several compressed blocks.
constexpr size_t kOutputBuffer = 256u << 10;

// Each worker compresses jobs of this size; the default grows with the level and the window.
constexpr int kJobSize = 1 << 20;

// The levels above this one default to windows and match tables of tens of MiB per worker; they
// are held to these sizes (log2 bytes, log2 entries), so that memory stays within a few tens of
// MiB at any level, at some cost in ratio.
constexpr int kLargestUncappedLevel = 3;
constexpr int kWindowLog = 20;
constexpr int kTableLog = 19;

void Check(size_t result, const char* what) {
  if (ZSTD_isError(result)) {
    throw Failure("zstd", std::string(what) + ": " + ZSTD_getErrorName(result));
  }
}

void SetParameter(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value) {
  Check(ZSTD_CCtx_setParameter(context, parameter, value), "cannot set a parameter");
}

void LimitMemory(ZSTD_CCtx* context, int level) {
  SetParameter(context, ZSTD_c_jobSize, kJobSize);
  if (level <= kLargestUncappedLevel) return;
  SetParameter(context, ZSTD_c_windowLog, kWindowLog);
  SetParameter(context, ZSTD_c_hashLog, kTableLog);
  SetParameter(context, ZSTD_c_chainLog, kTableLog);
}

}  // namespace

ZstdWriter::ZstdWriter(ImageSink& out, int level, uint64_t imageBytes)
    : out_(out), declared_(imageBytes), context_(ZSTD_createCCtx()), buffer_(kOutputBuffer) {
  if (context_ == nullptr) throw std::bad_alloc();
  const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  try {
    SetParameter(context_, ZSTD_c_compressionLevel, level);
    SetParameter(context_, ZSTD_c_checksumFlag, 1);
    SetParameter(context_, ZSTD_c_nbWorkers, workers);
    LimitMemory(context_, level);
    Check(ZSTD_CCtx_setPledgedSrcSize(context_, imageBytes), "cannot set the content size");
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
  written_ += length;
  size_t consumed = 0;
  while (consumed < length) Step(data, length, &consumed, false);
}

void ZstdWriter::Finish() {
  // With worker threads the library does not hold the frame to the size it declares.
  if (written_ != declared_) {
    throw Failure("zstd", "the frame declares " + std::to_string(declared_) + " bytes, but " +
                              std::to_string(written_) + " were written");
  }
  size_t consumed = 0;
  while (Step(nullptr, 0, &consumed, true) != 0) {
  }
  out_.Finish();
}

}  // namespace kestro::cli
