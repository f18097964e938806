// The device objects published under \\?\GLOBALROOT\Device\: volumes held by a snapshot.
#pragma once

#include <optional>
#include <string>

#include "storage/drive_map.h"

namespace kestro::posix {

// The volume device object `name` stands for, matched without regard to case, or nullopt.
std::optional<VolumeTarget> FindDeviceObject(const std::string& name);

}  // namespace kestro::posix
