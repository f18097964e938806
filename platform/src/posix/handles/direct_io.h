// The page cache on devices: block devices and snapshot device objects take whole aligned sectors
// through a second descriptor opened with O_DIRECT, so a backup leaves the host's cache as it was
// and a read after a write reads the medium. What still goes through the cache on a block device
// leaves it again once it is safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "open_object.h"

namespace kestro::posix {

// Gives a buffered handle on a block device, or on the storage of a snapshot's device object, its
// direct descriptor, and a block device's handle its drop-behind. Where the system refuses
// O_DIRECT the handle stays as it was.
void OpenDirectDescriptor(OpenObject& object, bool deviceObject);

// Whether transfers go to the direct descriptor: it is open and its file system has not refused it.
bool DirectIoActive(const OpenObject& object);

// Records that the direct descriptor's file system refused a transfer (EINVAL): the handle goes on
// buffered. True when that is what `result` and errno say.
bool DirectIoRefused(OpenObject& object, ssize_t result);

// Drops the page cache's copy of the bytes [offset, offset + size) that went through a block
// device's buffered descriptor; written bytes reach the device first.
void DropBehind(const OpenObject& object, uint64_t offset, size_t size, bool written);

}  // namespace kestro::posix
