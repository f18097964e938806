// What a volume may be read from or written to: a block device, or a regular file on a file system
// that stores data. Anything else (a character device, a FIFO, a socket, a file of /proc or /sys
// that reads as empty or as text the kernel makes up) is refused by name.
#pragma once

#include <string>

namespace kestro::cli {

// Throws Failure naming `name` and saying what `path` is when it is no block device or regular
// file on a real file system; a path that cannot be examined is left to whoever opens it.
void RequireStorage(const std::string& path, const std::string& name);

}  // namespace kestro::cli
