// The 512-byte sector: the unit of Windows' alignment rules for unbuffered transfers and of DOS's
// sector numbers, and the unit in which sysfs, libblkid and LVM's sizes count whatever the
// device's own sectors. The one constant of the platform layer and the requester above it.
#pragma once

#include <cstdint>

namespace kestro::platform {

inline constexpr uint32_t kSectorSize = 512;

}  // namespace kestro::platform
