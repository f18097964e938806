// The volume queries named by a root path: file-system identity and free space.
#pragma once

#include <win32/types.h>

#include "storage/volume_window.h"

namespace kestro::posix {

using namespace win32;

BOOL QueryVolumeInformation(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                            LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystemName,
                            DWORD fileSystemNameSize);
// Sizes in bytes, with the sector size of the device under the volume.
BOOL QueryFreeSpace(LPCWSTR root, VolumeSpace* space);

}  // namespace kestro::posix
