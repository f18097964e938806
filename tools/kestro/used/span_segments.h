// An image's used spans as segments for the block loops: each span cut out of the segments that
// place the whole image, and, for a backup, hole segments of zeros between them, so that the
// image keeps its full size and its digest covers every byte.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "used/used_space.h"
#include "support/byte_range.h"
#include "volume/segment.h"

namespace kestro::cli {

class SpanSegments {
 public:
  // `whole` places the entire image; `withHoles` adds the zero segments between the spans.
  SpanSegments(const std::vector<Segment>& whole, const std::vector<Extent>& spans, bool withHoles);
  SpanSegments(const SpanSegments&) = delete;
  SpanSegments& operator=(const SpanSegments&) = delete;

  const std::vector<Segment>& segments() const { return segments_; }

 private:
  // `length` bytes of another range from `base`.
  class Window : public ByteRange {
   public:
    Window(ByteRange& range, uint64_t base, uint64_t length)
        : range_(range), base_(base), length_(length) {}
    uint64_t size() const override { return length_; }
    win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override;
    win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) override;
    win32::DWORD ReadView(uint64_t offset, size_t length, void* buffer, const void** data) override;

   private:
    ByteRange& range_;
    uint64_t base_;
    uint64_t length_;
  };

  // Reads as zeros, however long; nothing is written to it.
  class Zeros : public ByteRange {
   public:
    uint64_t size() const override { return UINT64_MAX; }
    win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override;
    win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) override;
    bool ReadsAsZeros() const override { return true; }
  };

  void AddSpan(const std::vector<Segment>& whole, const Extent& span);
  void AddHole(uint64_t from, uint64_t to);

  std::deque<Window> windows_;  // a deque keeps their addresses as it grows
  Zeros zeros_;
  std::vector<Segment> segments_;
  bool withHoles_;
};

}  // namespace kestro::cli
