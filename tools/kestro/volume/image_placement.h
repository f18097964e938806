// The image's bytes on a volume: through the volume object, and past it through the disk.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "volume/disk_range.h"
#include "volume/segment.h"
#include "volume/volume.h"
#include "volume/volume_bytes.h"

namespace kestro::cli {

// Where an image lies on a volume's partition: as much of it as the volume object addresses
// goes through the object, the rest (the partition's tail) through the partition's disk.
class ImagePlacement {
 public:
  // Throws Failure when `imageBytes` do not fit in the partition.
  ImagePlacement(Volume& volume, uint64_t imageBytes, bool writable);

  const std::vector<Segment>& segments() const { return segments_; }
  // Flushes what was written through both ways; ERROR_SUCCESS or the failure's code.
  win32::DWORD Flush();

 private:
  Volume& volume_;
  VolumeBytes bytes_;
  std::unique_ptr<DiskRange> tail_;
  std::vector<Segment> segments_;
};

}  // namespace kestro::cli
