#include "transfer/block_loops.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/write/image_sink.h"
#include "support/errors.h"
#include "transfer/hash_pipeline.h"
#include "transfer/interrupt.h"

namespace kestro::cli {

using namespace win32;

namespace {

// Runs `step(segment, offset, length)` for every block of every segment, in image order, until
// a step returns false.
template <typename Step>
void ForEachBlock(const std::vector<Segment>& segments, const LoopSettings& settings, Step step) {
  for (const Segment& segment : segments) {
    for (uint64_t offset = 0; offset < segment.length; offset += settings.blockSize) {
      StopIfInterrupted(settings.subject);
      const size_t length =
          static_cast<size_t>(std::min<uint64_t>(settings.blockSize, segment.length - offset));
      if (!step(segment, offset, length)) return;
      if (settings.progress) settings.progress->Update(segment.imageOffset + offset + length);
    }
  }
  if (settings.progress) settings.progress->Finish();
}

// Reads `length` bytes at `offset` of `range`, whose bytes lie at `imageOffset` of the image;
// throws the range's Failure when they cannot be read.
void ReadOrFail(ByteRange& range, uint64_t offset, uint8_t* buffer, size_t length,
                uint64_t imageOffset, const std::string& subject) {
  if (const DWORD error = range.ReadAt(offset, buffer, length)) {
    throw range.Explain(subject, "read", imageOffset, error);
  }
}

// Checks that `image`, read to its last byte, ends there.
void EndOrFail(ImageReader& image, const std::string& subject) {
  if (const DWORD error = image.ReadEnd())
    throw image.Explain(subject, "read", image.size(), error);
}

}  // namespace

std::string ReadIntoImage(const std::vector<Segment>& segments, ImageSink& image,
                          const LoopSettings& settings, RescueMap* rescue) {
  HashPipeline hasher(settings.hash, settings.blockSize);
  // The hashing thread needs a block the next read does not overwrite, and a rescue fills one.
  const bool inPlace = settings.hash == HashKind::kNone && rescue == nullptr;
  ForEachBlock(segments, settings, [&](const Segment& segment, uint64_t offset, size_t length) {
    if (segment.range->ReadsAsZeros()) {
      image.WriteZeros(length);
      hasher.SubmitZeros(length);
      return true;
    }
    uint8_t* block = hasher.Acquire();
    const void* data = block;
    const DWORD error =
        inPlace ? segment.range->ReadView(offset, length, block, &data)
                : ReadRescuing(*segment.range, offset, block, length, rescue, segment.imageOffset);
    if (error != ERROR_SUCCESS) {
      throw segment.range->Explain(settings.subject, "read", segment.imageOffset + offset, error);
    }
    // A rescue stopped by Ctrl-C leaves the block half read: it must not reach the image.
    StopIfInterrupted(settings.subject);
    image.Write(static_cast<const uint8_t*>(data), length);
    hasher.Submit(block, length);
    return true;
  });
  return hasher.Finish();
}

std::string WriteFromImage(ImageReader& image, const std::vector<Segment>& segments,
                           const LoopSettings& settings, uint64_t* written) {
  *written = 0;
  HashPipeline hasher(settings.hash, settings.blockSize);
  ForEachBlock(segments, settings, [&](const Segment& segment, uint64_t offset, size_t length) {
    uint8_t* block = hasher.Acquire();
    const uint64_t at = segment.imageOffset + offset;
    ReadOrFail(image, at, block, length, at, settings.subject);
    if (const DWORD error = segment.range->WriteAt(offset, block, length)) {
      throw segment.range->Explain(settings.subject, "write", at, error);
    }
    *written += length;
    hasher.Submit(block, length);
    return true;
  });
  EndOrFail(image, settings.subject);
  return hasher.Finish();
}

std::string DigestSegments(const std::vector<Segment>& segments, const LoopSettings& settings) {
  HashPipeline hasher(settings.hash, settings.blockSize);
  ForEachBlock(segments, settings, [&](const Segment& segment, uint64_t offset, size_t length) {
    uint8_t* block = hasher.Acquire();
    ReadOrFail(*segment.range, offset, block, length, segment.imageOffset + offset,
               settings.subject);
    hasher.Submit(block, length);
    return true;
  });
  return hasher.Finish();
}

std::string DigestImage(ImageReader& image, const LoopSettings& settings) {
  std::string digest = DigestSegments({Segment{&image, image.size(), 0}}, settings);
  EndOrFail(image, settings.subject);
  return digest;
}

std::optional<uint64_t> FirstDifference(ImageReader& image, const std::vector<Segment>& segments,
                                        const LoopSettings& settings) {
  std::vector<uint8_t> fromVolume(settings.blockSize), fromImage(settings.blockSize);
  std::optional<uint64_t> difference;
  ForEachBlock(segments, settings, [&](const Segment& segment, uint64_t offset, size_t length) {
    const uint64_t at = segment.imageOffset + offset;
    ReadOrFail(*segment.range, offset, fromVolume.data(), length, at, settings.subject);
    ReadOrFail(image, at, fromImage.data(), length, at, settings.subject);
    if (std::memcmp(fromVolume.data(), fromImage.data(), length) == 0) return true;
    const auto mismatch =
        std::mismatch(fromVolume.data(), fromVolume.data() + length, fromImage.data());
    difference =
        segment.imageOffset + offset + static_cast<uint64_t>(mismatch.first - fromVolume.data());
    return false;
  });
  if (!difference) EndOrFail(image, settings.subject);
  return difference;
}

}  // namespace kestro::cli
