// Writing: any byte range, put on the volume in whole sectors. Sectors the bytes only partly
// cover are read, patched in the staging buffer and written back.
#include <Kestro32.h>

#include <cstring>

#include "volume/transfer.h"
#include "volume/window_flag.h"

using namespace win32;
using namespace kestro;

namespace {

// What a legacy writer tells the file system it is writing.
enum WriteKind { kFileData = 0, kDirectoryData = 1, kFatData = 2 };

bool StartsAndEndsOnSectors(DWORD offset, DWORD length) {
  return offset == 0 && length % kSectorSize == 0;
}

// A device transfer that moved every byte; a short one is a failure.
bool ReadWhole(HANDLE device, void* into, DWORD size) {
  DWORD done = 0;
  return ReadFile(device, into, size, &done, nullptr) && done == size;
}

bool WriteWhole(HANDLE device, const void* from, DWORD size) {
  DWORD done = 0;
  return WriteFile(device, from, size, &done, nullptr) && done == size;
}

// Legacy read-modify-write of `count` sectors in the pinned staging buffer.
bool PatchLegacySectors(CKestro32& volume, const void* buf, DWORD offset, DWORD length,
                        ULONGLONG count, int kind) {
  _DISKIO io = LegacyPacket(volume, count);
  if (!volume.NewReadSector(&io, volume.m_nDrive)) return false;
  std::memcpy(volume.m_pBuffer + offset, buf, length);
  io = LegacyPacket(volume, count);
  return VirtualLock(volume.m_pBuffer, static_cast<SIZE_T>(count * kSectorSize)) &&
         volume.NewWriteSector(&io, volume.m_nDrive, kind);
}

// The legacy writers differ only in `kind`. The bytes always pass through the staging buffer.
DWORD WriteLegacy(CKestro32& volume, const void* buf, DWORD len, int kind) {
  const DWORD length = ClampToVolume(volume, len);
  if (length == 0) return 0;
  if (MissingBuffer(buf, length)) return KESTRO_WRITE_FAILED;
  const DWORD offset = SectorOffset(volume);
  const ULONGLONG count = LegacySectorCount(volume, offset, length);
  if (volume.m_pBuffer == nullptr || !LegacyTransferFits(volume, count)) {
    return KESTRO_WRITE_FAILED;
  }
  DropWindowsForWrite(volume);
  const SIZE_T pinned = static_cast<SIZE_T>(count * kSectorSize);
  if (!VirtualLock(volume.m_pBuffer, pinned)) return KESTRO_WRITE_FAILED;
  bool written = false;
  if (StartsAndEndsOnSectors(offset, length)) {
    std::memcpy(volume.m_pBuffer, buf, length);
    _DISKIO io = LegacyPacket(volume, count);
    written = volume.NewWriteSector(&io, volume.m_nDrive, kind) != 0;
  } else {
    written = PatchLegacySectors(volume, buf, offset, length, count, kind);
  }
  if (written) volume.SeekW(length, FILE_CURRENT);
  VirtualUnlock(volume.m_pBuffer, pinned);
  return written ? length : KESTRO_WRITE_FAILED;
}

// Whole sectors go out straight from the caller's buffer; the device pointer moves with them.
DWORD WriteWholeSectors(CKestro32& volume, const void* buf, DWORD length) {
  if (!WriteWhole(volume.m_hDisk, buf, length)) return KESTRO_WRITE_FAILED;
  volume.m_llPos += length;
  volume.m_llSector += length / kSectorSize;
  return length;
}

// NT-family read-modify-write of the `count` sectors starting at the device pointer.
DWORD PatchSectors(CKestro32& volume, const void* buf, DWORD offset, DWORD length,
                   ULONGLONG count) {
  const DWORD bytes = static_cast<DWORD>(count * kSectorSize);
  if (!ReadWhole(volume.m_hDisk, volume.m_pBuffer, bytes)) return KESTRO_WRITE_FAILED;
  std::memcpy(volume.m_pBuffer + offset, buf, length);
  if (volume.DriveSeek(volume.m_hDisk, -static_cast<LONGLONG>(bytes), FILE_CURRENT) == -1) {
    return KESTRO_WRITE_FAILED;
  }
  if (!WriteWhole(volume.m_hDisk, volume.m_pBuffer, bytes)) return KESTRO_WRITE_FAILED;
  volume.SeekNT(length, FILE_CURRENT);
  return length;
}

}  // namespace

DWORD CKestro32::WriteNT(void* buf, DWORD len) {
  WindowFlag(*this).store(0, std::memory_order_release);
  return m_bWin9x ? WriteDataW(buf, len) : Write2K(buf, len);
}

DWORD CKestro32::WriteDataW(void* buf, DWORD len) {
  return WriteLegacy(*this, buf, len, kFileData);
}

DWORD CKestro32::WriteDirDataW(void* buf, DWORD len) {
  return WriteLegacy(*this, buf, len, kDirectoryData);
}

DWORD CKestro32::WriteFatDataW(void* buf, DWORD len) {
  return WriteLegacy(*this, buf, len, kFatData);
}

DWORD CKestro32::Write2K(void* buf, DWORD len) {
  const DWORD length = ClampToVolume(*this, len);
  if (length == 0) return 0;
  if (MissingBuffer(buf, length)) return KESTRO_WRITE_FAILED;
  const DWORD offset = SectorOffset(*this);
  const ULONGLONG count = SectorsSpanned(static_cast<ULONGLONG>(offset) + length);
  const bool wholeSectors = StartsAndEndsOnSectors(offset, length);
  if (m_hDisk == INVALID_HANDLE_VALUE) return KESTRO_WRITE_FAILED;
  if (!wholeSectors && count > BufferSectors(*this)) return KESTRO_WRITE_FAILED;
  if (!PlaceDevicePointer(*this)) return KESTRO_WRITE_FAILED;
  DropWindowsForWrite(*this);
  return wholeSectors ? WriteWholeSectors(*this, buf, length)
                      : PatchSectors(*this, buf, offset, length, count);
}
