// The MBR side of the drive layout.
#pragma once

#include <optional>

#include "ioctl/partition_layout.h"
#include "storage/disk_access.h"

namespace kestro::posix {

// Reads the MBR slots of `disk` and the extended boot records they chain to.
std::optional<DiskLayout> ReadMbrLayout(const DiskAccess& disk);

}  // namespace kestro::posix
