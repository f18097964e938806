#include "image/read/zstd_reader.h"

#include <sys/stat.h>
#include <zstd.h>

#include <cerrno>
#include <new>

#include "image/read/zstd_frames.h"
#include "support/errors.h"
#include "image/read/zstd_seek_table.h"

namespace kestro::cli {
namespace {

// The longest frame header the format allows; the content size is in it.
constexpr size_t kFrameHeaderMax = 18;

// What the frames of `input` say of themselves: all of a file's, or standard input's first.
ZstdFrames DescribeFrames(InputStream& input, bool file) {
  // A seekable stream records the image's size in a frame of its own, ahead of the data; a file
  // of one that is read here has lost its seek table, and perhaps frames too.
  if (const auto recorded = DecodeSizeFrame(input.Peek(SizeFrameBytes()))) {
    return ZstdFrames{*recorded};
  }
  if (!file) return DescribeFirstFrame(input.Peek(kFrameHeaderMax), input.name());
  struct stat st {};
  if (fstat(input.fd(), &st) != 0) {
    throw Failure(input.name(), "cannot examine: " + DescribeErrno(errno));
  }
  return WalkZstdFrames(input.fd(), static_cast<uint64_t>(st.st_size), input.name());
}

}  // namespace

bool IsZstdStream(InputStream& input) {
  // The magic number is stored little-endian.
  const std::string& start = input.Peek(4);
  if (start.size() < 4) return false;
  uint32_t first = 0;
  for (size_t i = 4; i-- > 0;) first = first << 8 | static_cast<uint8_t>(start[i]);
  return first == ZSTD_MAGICNUMBER || DecodeSizeFrame(input.Peek(SizeFrameBytes()));
}

std::unique_ptr<ZstdReader> ZstdReader::Open(std::unique_ptr<InputStream> input,
                                             std::optional<uint64_t> streamSize) {
  const ZstdFrames frames = DescribeFrames(*input, !streamSize);
  std::unique_ptr<ZstdReader> reader(new ZstdReader(std::move(input)));
  reader->checksummed_ = frames.checksummed;
  reader->firstFrameOnly_ =
      streamSize && frames.sizesKnown && !DecodeSizeFrame(reader->input_->Peek(SizeFrameBytes()));
  if (frames.sizesKnown) {
    reader->set_size(frames.contentBytes);
  } else {
    reader->set_size(streamSize ? *streamSize : reader->Measure());
  }
  return reader;
}

ZstdReader::ZstdReader(std::unique_ptr<InputStream> input)
    : ForwardReader(input->name(), 0),
      input_(std::move(input)),
      context_(ZSTD_createDCtx()),
      compressed_(ZSTD_DStreamInSize()) {
  if (context_ == nullptr) throw std::bad_alloc();
}

ZstdReader::~ZstdReader() {
  ZSTD_freeDCtx(context_);
}

void ZstdReader::Fail(const std::string& what, uint64_t imageOffset) const {
  const uint64_t streamOffset = input_->position() - (filled_ - used_);
  throw Failure(name(), what + " at byte " + std::to_string(streamOffset) +
                            " of the stream (byte " + std::to_string(imageOffset) +
                            " of the image)");
}

size_t ZstdReader::ReadNext(uint8_t* buffer, size_t length) {
  ZSTD_outBuffer output{buffer, length, 0};
  while (output.pos < output.size) {
    if (used_ == filled_) {
      filled_ = input_->ReadSome(compressed_.data(), compressed_.size());
      used_ = 0;
      if (filled_ == 0 && frameEnded_) break;
      if (filled_ == 0) Fail("the zstd stream is cut short", position() + output.pos);
    }
    ZSTD_inBuffer input{compressed_.data(), filled_, used_};
    const size_t result = ZSTD_decompressStream(context_, &output, &input);
    if (ZSTD_isError(result)) {
      Fail(std::string("the zstd stream is damaged (") + ZSTD_getErrorName(result) + ")",
           position() + output.pos);
    }
    used_ = input.pos;
    frameEnded_ = result == 0;
  }
  return output.pos;
}

std::string ZstdReader::BeyondEnd() const {
  if (!firstFrameOnly_) return ForwardReader::BeyondEnd();
  return "goes on past byte " + std::to_string(size()) +
         ", where its first zstd frame ends; only a file's frames are all measured, so give a "
         "file of several frames by its name";
}

void ZstdReader::Restart() {
  input_->Rewind();
  ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
  used_ = filled_ = 0;
  frameEnded_ = false;
}

}  // namespace kestro::cli
