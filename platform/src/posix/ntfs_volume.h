// Free space of an unmounted NTFS volume, counted in its cluster bitmap: the boot sector gives
// the cluster size, the cluster count and the MFT; MFT record 0 maps the MFT, record 6 ($Bitmap)
// holds the bitmap, resident or as runs of clusters. Every field comes from the volume and is
// checked before it is used.
#pragma once

#include <optional>

#include "volume_window.h"

namespace kestro::posix {

// Total is the cluster count times the cluster size, free the clear bits of the bitmap among
// the volume's clusters; nullopt when the structures do not add up.
std::optional<VolumeSpace> CountNtfsSpace(const VolumeWindow& volume);

}  // namespace kestro::posix
