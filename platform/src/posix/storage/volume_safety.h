// What keeps a host from corrupting data in use by accident. A write through any handle whose bytes
// overlap a mounted file system, an active swap area, or what the kernel says is in use (see
// kernel_use.h) is refused. FSCTL_LOCK_VOLUME is an exclusive lock that cannot be taken while the
// volume is in use; it is held by the kernel (O_EXCL opens of every block device over the volume's
// bytes, open-file-description byte-range locks on image files) and by the process, so other
// processes and other handles are excluded alike. O_EXCL means nothing for a regular file: a loop
// device attached to an image after the lock was taken is seen only by the next check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

BOOL LockVolume(OpenObject& object);
// Fails with ERROR_NOT_LOCKED unless this handle holds the lock.
BOOL UnlockVolume(OpenObject& object);
// FSCTL_DISMOUNT_VOLUME never detaches what Linux uses: it succeeds only on a volume with no
// mounted file system or active swap area, and fails with ERROR_ACCESS_DENIED on one in use.
BOOL DismountVolume(OpenObject& object);

// Whether a write of `length` bytes at `offset` of the object's descriptor may go ahead. The
// caller holds the object's mutex. Disk and file handles are judged by the bytes written; a volume
// handle by the whole volume, except that it may rewrite its boot sector, as on Windows.
bool WriteAllowed(OpenObject& object, uint64_t offset, uint64_t length);

// Whether a write of `length` bytes at `offset` of the file or device open on `fd` may go ahead,
// for writes that go around the handles.
bool DescriptorWriteAllowed(int fd, uint64_t offset, uint64_t length);

// Why `places` are in use, one reason per user (a mount, a swap area, a device the kernel holds,
// a process writing the file); empty when nothing uses them. This process's own locks do not
// count.
std::vector<std::string> WhyInUse(const std::vector<StoragePlace>& places);

}  // namespace kestro::posix
