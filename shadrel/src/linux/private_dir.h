// Folders only their owner may enter, for snapshot clones and records.
#pragma once

#include <string>

namespace shadrel::linux_snapshots {

// Creates `path` with mode 0700 when missing; false with a reason when it is missing and cannot be
// made, or exists as something other than a folder of this user that no one else may enter.
bool EnsurePrivateDir(const std::string& path, std::string& reason);

// "<text>: <what errno says>".
std::string WithErrno(const std::string& text);

}  // namespace shadrel::linux_snapshots
