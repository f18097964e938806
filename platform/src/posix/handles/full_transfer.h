// Whole transfers on an open object's descriptor: retried until done, the device's end or an
// error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "open_object.h"

namespace kestro::posix {

// Bytes moved between `buffer` and descriptor offset `offset`: fewer than `size` only at the
// end of the file or device; -1 with errno set when an error stops the transfer part-way.
ssize_t ReadFully(OpenObject& object, void* buffer, size_t size, uint64_t offset);
ssize_t WriteFully(OpenObject& object, const void* buffer, size_t size, uint64_t offset);

}  // namespace kestro::posix
