// Reading past bad sectors: when a block cannot be read, it is read again one sector at a time;
// sectors that still fail are filled with zeros and listed, so that a damaged volume still gives
// an image of everything readable, plus a map of what is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "volume/byte_source.h"

namespace kestro::cli {

struct BadRange {
  uint64_t offset = 0;  // bytes from the start of the image
  uint64_t length = 0;
};

class RescueMap {
 public:
  // Records an unreadable range; one that continues the last range extends it.
  void Add(uint64_t offset, uint64_t length);

  const std::vector<BadRange>& ranges() const { return ranges_; }
  uint64_t bytes() const;

  // The map file: two comment lines, then "<offset> <length>" per range, in decimal bytes.
  std::string Text(const std::string& volumeName) const;

 private:
  std::vector<BadRange> ranges_;
};

// The map file written beside an image.
std::string RescueMapPath(const std::string& image);

// Reads `length` bytes at `offset` of `range` into `buffer`. Without a map a failed read returns
// its error. With a map the failed block is read again sector by sector, unreadable sectors are
// zero-filled and recorded at `imageBase` + their offset, and the result is ERROR_SUCCESS. An
// interrupt request stops the sector-by-sector pass early.
win32::DWORD ReadRescuing(ByteRange& range, uint64_t offset, uint8_t* buffer, size_t length,
                          RescueMap* map, uint64_t imageBase);

}  // namespace kestro::cli
