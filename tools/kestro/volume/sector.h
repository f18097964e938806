// The 512-byte sector: the library's transfer unit, the unit of the partition tail and of rescued
// ranges, and the unit in which sysfs counts device sizes whatever the device's own sectors.
#pragma once

#include <cstdint>

namespace kestro::cli {

inline constexpr uint64_t kSectorSize = 512;

}  // namespace kestro::cli
