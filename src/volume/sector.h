// The sector the library counts in: positions, transfers and sizes are whole 512-byte sectors on
// every volume, as the legacy family's DOS calls count them.
#pragma once

#include <win32/windows.h>

namespace kestro {

inline constexpr win32::ULONGLONG kSectorSize = 512;
inline constexpr unsigned kSectorShift = 9;

}  // namespace kestro
