// The files other processes hold open, as the kernel lists them under /proc/PID/fd. Only what
// this process may look at is seen: a process that is not root sees its own user's processes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "storage/storage_place.h"

namespace kestro::posix {

// "process 1234 (name)" for the first other process that holds a file of `places` open for
// writing, or nullopt. A FUSE file system serving an image holds it so.
std::optional<std::string> OtherWriterOf(const std::vector<StoragePlace>& places);

// "process 1234 (name)" for the first other process that holds both a file or block device of
// `places` and /dev/fuse open: a FUSE daemon serving those bytes, or nullopt.
std::optional<std::string> FuseServerOf(const std::vector<StoragePlace>& places);

}  // namespace kestro::posix
