// Positioning: a bounded byte position, its sector index and, on the NT family, the device
// pointer kept at the start of the sector that holds the position.
#include <Kestro32.h>

#include "volume/sector.h"

using namespace win32;
using kestro::kSectorShift;

namespace {

// The position a seek asks for, when it lies within [0, volumeSize].
bool SeekTarget(ULONGLONG position, ULONGLONG volumeSize, LONGLONG distance, int origin,
                ULONGLONG* target) {
  switch (origin) {
    case FILE_BEGIN:
      if (distance < 0 || static_cast<ULONGLONG>(distance) > volumeSize) return false;
      *target = static_cast<ULONGLONG>(distance);
      return true;
    case FILE_CURRENT:
      // A move before the start wraps to at least 2^63 and fails the same bound.
      *target = position + static_cast<ULONGLONG>(distance);
      return *target <= volumeSize;
    case FILE_END:
      if (distance > 0 || 0 - static_cast<ULONGLONG>(distance) > volumeSize) return false;
      *target = volumeSize + static_cast<ULONGLONG>(distance);
      return true;
    default:
      return false;
  }
}

}  // namespace

LONGLONG CKestro32::DriveSeek(HANDLE handle, LONGLONG distance, DWORD method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER moved;
  moved.QuadPart = 0;
  return SetFilePointerEx(handle, move, &moved, method) ? moved.QuadPart : -1;
}

int CKestro32::SeekW(LONGLONG distance, int origin) {
  ULONGLONG target = 0;
  if (!SeekTarget(m_llPos, m_llVolumeSize, distance, origin, &target)) return 0;
  m_llPos = target;
  m_llSector = target >> kSectorShift;
  return 1;
}

int CKestro32::Seek2K(LONGLONG distance, int origin) {
  if (!SeekW(distance, origin)) return 0;
  const LONGLONG sectorStart = static_cast<LONGLONG>(m_llSector << kSectorShift);
  return DriveSeek(m_hDisk, sectorStart, FILE_BEGIN) != -1;
}

int CKestro32::SeekNT(LONGLONG distance, int origin) {
  return m_bWin9x ? SeekW(distance, origin) : Seek2K(distance, origin);
}
