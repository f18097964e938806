// Reading: any byte range, fetched in whole sectors through the staging buffer, which then
// serves later reads inside it (the read-back window) without touching the device.
#include <Kestro32.h>

#include <algorithm>
#include <cstring>

#include "volume/transfer.h"
#include "volume/window_flag.h"

using namespace win32;
using namespace kestro;

namespace {

// Status of a legacy read that has no staging buffer to read into.
constexpr DWORD kNoStagingBuffer = 1;

// True when the window holds all `len` bytes at the position. Whatever replaces the buffer's bytes
// or the volume's, through this object or a copy, clears the flag first.
bool WindowHolds(const CKestro32& volume, DWORD len) {
  return WindowIsValid(volume) && volume.m_llPos >= volume.m_llWindowStart &&
         volume.m_llPos + len <= volume.m_llWindowStart + volume.m_llWindowLength;
}

// Reads the sectors under the `length` bytes at the position into the staging buffer, or a
// whole buffer of them when `readAhead` is asked and the volume has that much left. Only whole
// sectors that arrived join the window; the read fails unless they hold every byte asked for.
DWORD FetchSectors(CKestro32& volume, DWORD length, bool readAhead) {
  const DWORD offset = SectorOffset(volume);
  const ULONGLONG needed = static_cast<ULONGLONG>(offset) + length;
  if (needed > BufferSectors(volume) * kSectorSize) return KESTRO_ERR_READ;
  if (volume.m_hDisk == INVALID_HANDLE_VALUE) return KESTRO_ERR_READ;
  ULONGLONG count = SectorsSpanned(needed);
  if (readAhead && volume.m_llVolumeSize - volume.m_llPos >= volume.m_llBufferSize) {
    count = BufferSectors(volume);
  }
  if (!PlaceDevicePointer(volume)) return KESTRO_ERR_READ;
  DropWindow(volume);
  const DWORD asked = static_cast<DWORD>(count * kSectorSize);
  DWORD delivered = 0;
  if (!ReadFile(volume.m_hDisk, volume.m_pBuffer, asked, &delivered, nullptr)) {
    return KESTRO_ERR_READ;
  }
  const ULONGLONG held = std::min(delivered, asked) & ~(kSectorSize - 1);
  if (held == 0) return KESTRO_ERR_READ;
  SetWindow(volume, volume.m_llPos - offset, held);
  return needed <= held ? 0 : KESTRO_ERR_READ;
}

// The NT-family read: clamp, fetch, hand the bytes over to `destination` with `deliver`, then
// advance.
template <typename Deliver>
DWORD ReadSectors(CKestro32& volume, DWORD len, DWORD* pRead, bool readAhead,
                  const void* destination, Deliver deliver) {
  const DWORD length = ClampToVolume(volume, len);
  DWORD status = MissingBuffer(destination, length) ? KESTRO_ERR_READ : 0;
  if (length > 0 && status == 0) {
    const DWORD offset = SectorOffset(volume);
    status = FetchSectors(volume, length, readAhead);
    if (status == 0) {
      deliver(volume.m_pBuffer + offset, length);
      volume.SeekNT(length, FILE_CURRENT);
    }
  }
  if (pRead) *pRead = length;
  return status;
}

// The legacy-family read of `length` bytes (not 0) through the staging buffer, pinned for the
// length of the transfer.
DWORD ReadLegacySectors(CKestro32& volume, void* buf, DWORD length) {
  const DWORD offset = SectorOffset(volume);
  ULONGLONG count = LegacySectorCount(volume, offset, length);
  if (volume.m_llVolumeSize - volume.m_llPos >= volume.m_llBufferSize) {
    count = LegacyReadAheadSectors(volume);
  }
  if (volume.m_pBuffer == nullptr) return kNoStagingBuffer;
  if (!LegacyTransferFits(volume, count) || offset + length > count * kSectorSize) {
    return KESTRO_ERR_READ;
  }
  const SIZE_T pinned = static_cast<SIZE_T>(count * kSectorSize);
  if (!VirtualLock(volume.m_pBuffer, pinned)) return KESTRO_ERR_READ;
  _DISKIO io = LegacyPacket(volume, count);
  DropWindow(volume);
  DWORD status = KESTRO_ERR_READ;
  if (volume.NewReadSector(&io, volume.m_nDrive)) {
    SetWindow(volume, volume.m_llPos - offset, pinned);
    std::memcpy(buf, volume.m_pBuffer + offset, length);
    volume.SeekW(length, FILE_CURRENT);
    status = 0;
  }
  VirtualUnlock(volume.m_pBuffer, pinned);
  return status;
}

}  // namespace

// A read with no buffer to copy into is refused by the device reads, never served from the window.
DWORD CKestro32::ReadNT(void* buf, DWORD len, DWORD* pRead) {
  if (buf == nullptr || !WindowHolds(*this, len))
    return m_bWin9x ? ReadW(buf, len, pRead) : Read2K(buf, len, pRead);
  if (len > 0) std::memcpy(buf, m_pBuffer + (m_llPos - m_llWindowStart), len);
  if (pRead) *pRead = len;
  SeekNT(len, FILE_CURRENT);
  return 0;
}

DWORD CKestro32::ReadNT(void* buf, DWORD len, DWORD* pRead, void** ppData) {
  return Read2K(buf, len, pRead, ppData);
}

DWORD CKestro32::ReadW(void* buf, DWORD len, DWORD* pRead) {
  const DWORD length = ClampToVolume(*this, len);
  DWORD status = 0;
  if (MissingBuffer(buf, length)) {
    status = KESTRO_ERR_READ;
  } else if (length > 0) {
    status = ReadLegacySectors(*this, buf, length);
  }
  if (pRead) *pRead = length;
  return status;
}

DWORD CKestro32::Read2K(void* buf, DWORD len, DWORD* pRead) {
  return ReadSectors(*this, len, pRead, true, buf,
                     [buf](const BYTE* first, DWORD length) { std::memcpy(buf, first, length); });
}

// The zero-copy read: no read-ahead, and the caller gets a pointer into the staging buffer
// through `ppData`, which stands in for the buffer the copying read needs.
DWORD CKestro32::Read2K(void*, DWORD len, DWORD* pRead, void** ppData) {
  return ReadSectors(*this, len, pRead, false, ppData,
                     [ppData](const BYTE* first, DWORD) { *ppData = const_cast<BYTE*>(first); });
}
