#include "image/write/zstd_writer.h"

#include <algorithm>

#include "support/errors.h"

namespace kestro::cli {

ZstdWriter::ZstdWriter(ImageSink& out, int level, uint64_t imageBytes, uint64_t frameBytes)
    : out_(out),
      declared_(imageBytes),
      frameBytes_(static_cast<size_t>(frameBytes)),
      pool_(level, frameBytes_) {
  const std::string sizeFrame = EncodeSizeFrame(imageBytes);
  out_.Write(reinterpret_cast<const uint8_t*>(sizeFrame.data()), sizeFrame.size());
  current_.reserve(frameBytes_);
}

void ZstdWriter::Write(const uint8_t* data, size_t length) {
  written_ += length;
  while (length > 0) {
    const size_t take = std::min(length, frameBytes_ - current_.size());
    current_.insert(current_.end(), data, data + take);
    data += take;
    length -= take;
    if (current_.size() == frameBytes_) Submit();
  }
}

void ZstdWriter::Submit() {
  if (pool_.pending() >= pool_.capacity()) WriteOldest();
  pool_.Submit(std::move(current_));
  current_ = {};
  current_.reserve(frameBytes_);
}

void ZstdWriter::WriteOldest() {
  const CompressedFrame frame = pool_.TakeOldest();
  out_.Write(frame.bytes.data(), frame.bytes.size());
  table_.push_back({static_cast<uint32_t>(frame.bytes.size()), frame.imageBytes, frame.checksum});
}

void ZstdWriter::Finish() {
  if (written_ != declared_) {
    throw Failure("zstd", "the image was declared " + std::to_string(declared_) + " bytes, but " +
                              std::to_string(written_) + " were written");
  }
  if (!current_.empty() || (table_.empty() && pool_.pending() == 0)) Submit();
  while (pool_.pending() > 0) WriteOldest();
  const std::string table = EncodeSeekTable(table_);
  out_.Write(reinterpret_cast<const uint8_t*>(table.data()), table.size());
  out_.Finish();
}

}  // namespace kestro::cli
