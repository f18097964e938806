#include "transfer/rescue.h"

#include <algorithm>
#include <cstring>

#include "transfer/interrupt.h"
#include "volume/sector.h"

namespace kestro::cli {

using namespace win32;

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
