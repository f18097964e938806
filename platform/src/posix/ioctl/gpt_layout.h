// The GPT side of the drive layout.
#pragma once

#include <optional>

#include "ioctl/partition_layout.h"
#include "storage/disk_access.h"

namespace kestro::posix {

// Reads the GPT of `disk` (the primary, or the backup when the primary fails its checks).
std::optional<DiskLayout> ReadGptLayout(const DiskAccess& disk);

}  // namespace kestro::posix
