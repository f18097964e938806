#include "volume/image_placement.h"

#include <algorithm>

#include "support/errors.h"

namespace kestro::cli {

using namespace win32;

ImagePlacement::ImagePlacement(Volume& volume, uint64_t imageBytes, bool writable)
    : volume_(volume), bytes_(volume.object()) {
  const uint64_t capacity = volume.size() + volume.tail_bytes();
  if (imageBytes > capacity) {
    throw Failure(volume.name(), "is smaller than the image: the image has " +
                                     std::to_string(imageBytes) + " bytes, the volume " +
                                     std::to_string(volume.size()) + " and its partition " +
                                     std::to_string(capacity));
  }
  const uint64_t viaObject = std::min(imageBytes, volume.size());
  segments_.push_back(Segment{&bytes_, viaObject, 0});
  if (imageBytes == viaObject) return;
  tail_ = volume.OpenPartitionRange(viaObject, imageBytes - viaObject, writable);
  segments_.push_back(Segment{tail_.get(), imageBytes - viaObject, viaObject});
}

DWORD ImagePlacement::Flush() {
  if (!FlushFileBuffers(volume_.object().m_hDisk)) return LastErrorOr(ERROR_WRITE_FAULT);
  return tail_ ? tail_->Flush() : ERROR_SUCCESS;
}

}  // namespace kestro::cli
