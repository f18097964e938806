// Reading a file at an offset, whatever its descriptor's position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro::cli {

// Up to `length` bytes at `offset` of the file open on `fd`; fewer at its end. Throws Failure
// naming `name` when the file cannot be read.
size_t ReadUpTo(int fd, uint64_t offset, void* buffer, size_t length, const std::string& name);

}  // namespace kestro::cli
