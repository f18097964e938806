// The map of what a rescue could not read, written beside its image: the unreadable byte ranges
// of the image, which it holds as zeros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/extent.h"

namespace kestro::cli {

class RescueMap {
 public:
  // Records an unreadable range; one that continues the last range extends it.
  void Add(uint64_t offset, uint64_t length);

  // Offsets count from the start of the image.
  const std::vector<Extent>& ranges() const { return ranges_; }
  uint64_t bytes() const;

  // The map file: two comment lines, then "<offset> <length>" per range, in decimal bytes.
  std::string Text(const std::string& volumeName) const;

 private:
  std::vector<Extent> ranges_;
};

// The map file written beside an image.
std::string RescueMapPath(const std::string& image);

}  // namespace kestro::cli
