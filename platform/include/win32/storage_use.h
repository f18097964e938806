// Whether storage is in use, for a host that must not write over data in use or into its own
// source. POSIX builds only.
#pragma once

#include <string>
#include <vector>

#include <win32/platform_api.h>

namespace kestro {

// Why the bytes of drive `letter` are in use, one reason per user: a mounted file system, a swap
// area, a block device the kernel holds (mounted in another mount namespace, a member of a
// multi-device file system, an external journal), another process writing its file. Empty when
// nothing uses them; this process's own volume locks do not count.
KESTROPLAT_API std::vector<std::string> WhyDriveInUse(char letter);

// Whether the file, folder or block device open on `fd` keeps bytes in the file or block device
// at `source`: it is the source or part of it, or it lies on a file system stored in the source
// (through partitions, loop devices and the devices of a btrfs), or on a FUSE file system whose
// server holds the source open.
KESTROPLAT_API bool StoredIn(int fd, const std::string& source);

}  // namespace kestro
