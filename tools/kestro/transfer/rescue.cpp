#include "transfer/rescue.h"

#include <algorithm>
#include <cstring>

#include "transfer/interrupt.h"
#include "volume/sector.h"

namespace kestro::cli {

using namespace win32;

void RescueMap::Add(uint64_t offset, uint64_t length) {
  if (!ranges_.empty() && ranges_.back().offset + ranges_.back().length == offset) {
    ranges_.back().length += length;
    return;
  }
  ranges_.push_back(BadRange{offset, length});
}

uint64_t RescueMap::bytes() const {
  uint64_t total = 0;
  for (const BadRange& range : ranges_) total += range.length;
  return total;
}

std::string RescueMap::Text(const std::string& volumeName) const {
  std::string text = "# unreadable ranges of " + volumeName + ", filled with zeros in the image\n";
  text += "# offset length (bytes)\n";
  for (const BadRange& range : ranges_) {
    text += std::to_string(range.offset) + " " + std::to_string(range.length) + "\n";
  }
  return text;
}

std::string RescueMapPath(const std::string& image) {
  return image + ".rescue-map";
}

DWORD ReadRescuing(ByteRange& range, uint64_t offset, uint8_t* buffer, size_t length,
                   RescueMap* map, uint64_t imageBase) {
  const DWORD error = range.ReadAt(offset, buffer, length);
  if (error == ERROR_SUCCESS || map == nullptr) return error;
  for (size_t done = 0; done < length && !InterruptRequested(); done += kSectorSize) {
    const size_t sector = std::min<size_t>(kSectorSize, length - done);
    if (range.ReadAt(offset + done, buffer + done, sector) == ERROR_SUCCESS) continue;
    std::memset(buffer + done, 0, sector);
    map->Add(imageBase + offset + done, sector);
  }
  return ERROR_SUCCESS;
}

}  // namespace kestro::cli
