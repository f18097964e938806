// A handle's transfers at descriptor offsets, each by the route its object and alignment allow:
// on a device, straight to the medium through the direct descriptor (served ahead of time when
// reads follow one another, through an aligned buffer where the caller's is not); otherwise
// through the page cache, which a block device's bytes then leave.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "open_object.h"

namespace kestro::posix {

// Bytes moved between `buffer` and descriptor offset `offset`, as ReadFully and WriteFully answer.
ssize_t ReadRouted(OpenObject& object, void* buffer, size_t size, uint64_t offset);
ssize_t WriteRouted(OpenObject& object, const void* buffer, size_t size, uint64_t offset);

}  // namespace kestro::posix
