// Pieces every read and write shares: cutting a transfer at the end of the volume, sizing it in
// sectors, checking it against the staging buffer and the legacy packet, placing the device
// pointer, and keeping the read-back window honest.
#pragma once

#include <Kestro32.h>

#include "volume/sector.h"

namespace kestro {

// `len` cut at the end of the volume; 0 when the position is at (or past) the end.
win32::DWORD ClampToVolume(const CKestro32& volume, win32::DWORD len);

// True, with ERROR_INVALID_PARAMETER as the last error, when a transfer of `length` bytes has no
// caller's buffer to take them from or put them in; a transfer of nothing needs none.
bool MissingBuffer(const void* buffer, win32::DWORD length);

// Offset of the position within its sector.
win32::DWORD SectorOffset(const CKestro32& volume);

// Sectors that bytes [0, bytes) of the current sector run into.
win32::ULONGLONG SectorsSpanned(win32::ULONGLONG bytes);

// Whole sectors of the staging buffer.
win32::ULONGLONG BufferSectors(const CKestro32& volume);

// Sectors from the current one to the end of the volume.
win32::ULONGLONG SectorsLeft(const CKestro32& volume);

// A legacy transfer of `length` bytes at in-sector `offset`: the sectors spanned, plus one when
// the start is not on a boundary, but never past the volume's last sector.
win32::ULONGLONG LegacySectorCount(const CKestro32& volume, win32::DWORD offset,
                                   win32::DWORD length);

// The sectors a legacy read-ahead fetches: a whole staging buffer, but no more than the packet's
// 16-bit count can carry.
win32::ULONGLONG LegacyReadAheadSectors(const CKestro32& volume);

// True when `count` sectors from the current one fit the staging buffer and the packet, whose
// count has 16 bits and whose first sector has 32.
bool LegacyTransferFits(const CKestro32& volume, win32::ULONGLONG count);

// The packet moving `count` sectors from the current one through the staging buffer.
_DISKIO LegacyPacket(const CKestro32& volume, win32::ULONGLONG count);

// True when the buffer of `io` overlaps the staging buffer, so a transfer into it replaces bytes
// the read-back window may describe.
bool PacketReachesStagingBuffer(const CKestro32& volume, const _DISKIO* io);

// Puts the device pointer at the start of the current sector. Every NT-family transfer starts
// here, so a pointer that an earlier failure (or a copy sharing the handle) left elsewhere never
// makes a transfer land in the wrong place.
bool PlaceDevicePointer(CKestro32& volume);

// The staging buffer is about to change: no window of this object, or of a copy sharing the
// buffer, describes it any longer.
void DropWindow(CKestro32& volume);

// The volume is about to change through this object: no window of it, or of a copy sharing its
// handle or staging buffer, may serve the old bytes any longer.
void DropWindowsForWrite(CKestro32& volume);

// The staging buffer now holds volume bytes [start, start + length).
void SetWindow(CKestro32& volume, win32::ULONGLONG start, win32::ULONGLONG length);

}  // namespace kestro
