// The Windows release the backend reports: NT 10.0.19045 unless KESTRO_WINDOWS_VERSION names
// another, e.g. "4.10.2222 A" (98 SE) or "4.0.950" (the first 95).
#pragma once

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

BOOL FillVersion(LPOSVERSIONINFOW info);

// Whether the reported release knows FAT32 and its DOS calls (function 7305h, generic IOCTL
// category 48h): every release but the first ones of 95 (builds before 1111, the OEM Service
// Release 2, which brought FAT32).
bool ReleaseHasFat32Calls();

}  // namespace kestro::posix
