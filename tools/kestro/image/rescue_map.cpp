#include "image/rescue_map.h"

namespace kestro::cli {

void RescueMap::Add(uint64_t offset, uint64_t length) {
  if (!ranges_.empty() && ranges_.back().offset + ranges_.back().length == offset) {
    ranges_.back().length += length;
    return;
  }
  ranges_.push_back(Extent{offset, length});
}

uint64_t RescueMap::bytes() const {
  uint64_t total = 0;
  for (const Extent& range : ranges_) total += range.length;
  return total;
}

std::string RescueMap::Text(const std::string& volumeName) const {
  std::string text = "# unreadable ranges of " + volumeName + ", filled with zeros in the image\n";
  text += "# offset length (bytes)\n";
  for (const Extent& range : ranges_) {
    text += std::to_string(range.offset) + " " + std::to_string(range.length) + "\n";
  }
  return text;
}

std::string RescueMapPath(const std::string& image) {
  return image + ".rescue-map";
}

}  // namespace kestro::cli
