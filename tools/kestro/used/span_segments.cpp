#include "used/span_segments.h"

#include <algorithm>
#include <cstring>

namespace kestro::cli {

using namespace win32;

DWORD SpanSegments::Window::ReadAt(uint64_t offset, void* buffer, size_t length) {
  return range_.ReadAt(base_ + offset, buffer, length);
}

DWORD SpanSegments::Window::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  return range_.WriteAt(base_ + offset, buffer, length);
}

DWORD SpanSegments::Window::ReadView(uint64_t offset, size_t length, void* buffer,
                                     const void** data) {
  return range_.ReadView(base_ + offset, length, buffer, data);
}

DWORD SpanSegments::Zeros::ReadAt(uint64_t, void* buffer, size_t length) {
  std::memset(buffer, 0, length);
  return ERROR_SUCCESS;
}

DWORD SpanSegments::Zeros::WriteAt(uint64_t, const void*, size_t) {
  return ERROR_INVALID_FUNCTION;
}

SpanSegments::SpanSegments(const std::vector<Segment>& whole, const std::vector<Extent>& spans,
                           bool withHoles)
    : withHoles_(withHoles) {
  uint64_t done = 0;
  for (const Extent& span : spans) {
    AddHole(done, span.offset);
    AddSpan(whole, span);
    done = span.offset + span.length;
  }
  AddHole(done, TotalLength(whole));
}

// A span may cross from the volume's bytes into the partition's tail: one window per part.
void SpanSegments::AddSpan(const std::vector<Segment>& whole, const Extent& span) {
  for (const Segment& segment : whole) {
    const uint64_t from = std::max(span.offset, segment.imageOffset);
    const uint64_t to = std::min(span.offset + span.length, segment.imageOffset + segment.length);
    if (from >= to) continue;
    Window& window = windows_.emplace_back(*segment.range, from - segment.imageOffset, to - from);
    segments_.push_back(Segment{&window, to - from, from});
  }
}

void SpanSegments::AddHole(uint64_t from, uint64_t to) {
  if (withHoles_ && from < to) segments_.push_back(Segment{&zeros_, to - from, from});
}

}  // namespace kestro::cli
