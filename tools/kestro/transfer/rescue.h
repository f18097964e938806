// Reading past bad sectors: when a block cannot be read, it is read again one sector at a time;
// sectors that still fail are filled with zeros and listed, so that a damaged volume still gives
// an image of everything readable, plus a map of what is missing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/rescue_map.h"
#include "support/byte_range.h"

namespace kestro::cli {

// Reads `length` bytes at `offset` of `range` into `buffer`. Without a map a failed read returns
// its error. With a map the failed block is read again sector by sector, unreadable sectors are
// zero-filled and recorded at `imageBase` + their offset, and the result is ERROR_SUCCESS. An
// interrupt request stops the sector-by-sector pass early.
win32::DWORD ReadRescuing(ByteRange& range, uint64_t offset, uint8_t* buffer, size_t length,
                          RescueMap* map, uint64_t imageBase);

}  // namespace kestro::cli
