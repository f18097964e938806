// What keeps a host from corrupting a mounted file system by accident. A write through any handle
// whose bytes overlap a mounted file system or an active swap area is refused. FSCTL_LOCK_VOLUME
// is an exclusive lock that cannot be taken while the volume is in use; it is held by the kernel
// (an O_EXCL open of a block device, open-file-description byte-range locks on image files) and
// by the process, so other processes and other handles are excluded alike.
#pragma once

#include <cstdint>

#include <win32/types.h>

#include "handles/open_object.h"

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

}  // namespace kestro::posix
