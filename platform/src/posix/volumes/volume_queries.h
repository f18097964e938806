// The volume queries named by a root path: file-system identity and free space.
#pragma once

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

BOOL QueryVolumeInformation(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                            LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystemName,
                            DWORD fileSystemNameSize);
BOOL QueryFreeSpace(LPCWSTR root, uint64_t* totalBytes, uint64_t* freeBytes,
                    uint32_t* bytesPerCluster);

}  // namespace kestro::posix
