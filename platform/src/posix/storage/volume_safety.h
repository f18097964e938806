// What keeps a host from corrupting a mounted file system by accident, as Windows does since
// Vista: FSCTL_LOCK_VOLUME, an exclusive lock per volume across the process that cannot be taken
// while the volume is mounted, and the refusal of volume writes to a mounted volume outside its
// boot sector.
#pragma once

#include <cstdint>

#include <win32/types.h>

#include "handles/open_object.h"

namespace kestro::posix {

using namespace win32;

BOOL LockVolume(OpenObject& object);
// Fails with ERROR_NOT_LOCKED unless this handle holds the lock.
BOOL UnlockVolume(OpenObject& object);

// Whether a write of `length` bytes at `offset` of a volume handle may go ahead. The caller holds
// the object's mutex. The mount table is rescanned only when its generation has moved since the
// handle last looked, so a steady stream of writes pays no system call for the check.
bool VolumeWriteAllowed(OpenObject& object, uint64_t offset, uint64_t length);

}  // namespace kestro::posix
