// Free space of an unmounted FAT12, FAT16 or FAT32 volume, counted in its first FAT. Every field
// comes from the volume and is checked against the volume before it is used.
#pragma once

#include <optional>

#include "volume_window.h"

namespace kestro::posix {

// Total is the data clusters times the cluster size, free the clusters whose FAT entry is 0,
// as the FAT tools count them; nullopt when the boot sector or the FAT does not add up.
std::optional<VolumeSpace> CountFatSpace(const VolumeWindow& volume);

}  // namespace kestro::posix
