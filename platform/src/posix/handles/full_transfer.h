// Whole transfers on an open object's descriptor: retried until done, the device's end or an
// error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "open_object.h"

namespace kestro::posix {

// Bytes moved between `buffer` and offset `offset` of `fd`, the object's descriptor or its direct
// one: fewer than `size` only at the end of the file or device; -1 with errno set when an error
// stops the transfer part-way (EINVAL where the direct descriptor's file system refuses it).
ssize_t ReadFully(OpenObject& object, int fd, void* buffer, size_t size, uint64_t offset);
ssize_t WriteFully(OpenObject& object, int fd, const void* buffer, size_t size, uint64_t offset);

}  // namespace kestro::posix
