// Transfers that the device cannot take as they are: in a handle's 512-byte units on a device whose
// logical sectors are larger, or, on the direct descriptor, from a buffer the device cannot reach
// straight. Each is carried out on the whole device sectors it touches, through a buffer aligned
// for O_DIRECT.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "open_object.h"

namespace kestro::posix {

// Whether a transfer of `size` bytes from `buffer` at descriptor offset `offset` is smaller or
// less aligned than the device accepts, on the direct descriptor when `direct` says so.
bool NeedsWidening(const OpenObject& object, const void* buffer, size_t size, uint64_t offset,
                   bool direct);

// Reads the device sectors holding bytes [offset, offset + size) through `fd` and copies those
// bytes into `buffer`: how many of them the device held, or -1 with errno set.
ssize_t ReadWidened(OpenObject& object, int fd, void* buffer, size_t size, uint64_t offset);

// Reads the device sectors that the bytes cover only in part, puts the bytes in and writes the
// sectors back whole: how many of the bytes were written, or -1 with errno set. When a partial
// sector cannot be read whole, nothing is written (0 at the device's end).
ssize_t WriteWidened(OpenObject& object, int fd, const void* buffer, size_t size, uint64_t offset);

}  // namespace kestro::posix
