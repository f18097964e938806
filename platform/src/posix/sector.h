// The 512-byte sector: the unit of Windows' alignment rules and of DOS's sector numbers, and the
// unit in which sysfs and libblkid report positions and sizes whatever the device's own sectors.
#pragma once

#include <cstdint>

namespace kestro::posix {

inline constexpr uint32_t kSectorSize = 512;

}  // namespace kestro::posix
