// Free space of an unmounted FAT or NTFS volume, counted in its allocation structure (the first
// FAT; the $Bitmap) as the file system's own tools count it.
#pragma once

#include <optional>

#include "storage/volume_window.h"

namespace kestro::posix {

// Total is the cluster count times the cluster size, free the clusters marked free; nullopt
// when the structures do not add up.
std::optional<VolumeSpace> CountFatSpace(const VolumeWindow& volume);
std::optional<VolumeSpace> CountNtfsSpace(const VolumeWindow& volume);

}  // namespace kestro::posix
