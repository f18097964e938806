#include "volume/transfer.h"

#include <algorithm>
#include <cstdint>

#include "volume/shared_resources.h"
#include "volume/window_flag.h"

using namespace win32;

namespace kestro {
namespace {

constexpr ULONGLONG kSectorMask = kSectorSize - 1;
constexpr ULONGLONG kLargestPacketCount = 0xFFFF;
constexpr ULONGLONG kLargestPacketSector = 0xFFFFFFFF;

}  // namespace

DWORD ClampToVolume(const CKestro32& volume, DWORD len) {
  if (volume.m_llPos >= volume.m_llVolumeSize) return 0;
  const ULONGLONG remaining = volume.m_llVolumeSize - volume.m_llPos;
  return len > remaining ? static_cast<DWORD>(remaining) : len;
}

DWORD SectorOffset(const CKestro32& volume) {
  return static_cast<DWORD>(volume.m_llPos & kSectorMask);
}

ULONGLONG SectorsSpanned(ULONGLONG bytes) {
  return (bytes >> kSectorShift) + ((bytes & kSectorMask) != 0 ? 1 : 0);
}

ULONGLONG BufferSectors(const CKestro32& volume) {
  return volume.m_llBufferSize >> kSectorShift;
}

ULONGLONG SectorsLeft(const CKestro32& volume) {
  const ULONGLONG volumeSectors = SectorsSpanned(volume.m_llVolumeSize);
  return volume.m_llSector < volumeSectors ? volumeSectors - volume.m_llSector : 0;
}

ULONGLONG LegacySectorCount(const CKestro32& volume, DWORD offset, DWORD length) {
  const ULONGLONG end = static_cast<ULONGLONG>(offset) + length;
  const bool wholeSectors = offset == 0 && (length & kSectorMask) == 0;
  const ULONGLONG count = wholeSectors ? end >> kSectorShift : (end >> kSectorShift) + 1;
  return std::min(count, SectorsLeft(volume));
}

ULONGLONG LegacyReadAheadSectors(const CKestro32& volume) {
  return std::min(BufferSectors(volume), kLargestPacketCount);
}

bool LegacyTransferFits(const CKestro32& volume, ULONGLONG count) {
  return count <= kLargestPacketCount && count <= BufferSectors(volume) &&
         volume.m_llSector <= kLargestPacketSector;
}

_DISKIO LegacyPacket(const CKestro32& volume, ULONGLONG count) {
  _DISKIO io = {};
  io.dwStartSector = static_cast<DWORD>(volume.m_llSector);
  io.wSectors = static_cast<WORD>(count);
  io.dwBuffer = static_cast<DWORD>(reinterpret_cast<uintptr_t>(volume.m_pBuffer));
  return io;
}

bool PacketReachesStagingBuffer(const CKestro32& volume, const _DISKIO* io) {
  if (io == nullptr || volume.m_pBuffer == nullptr) return false;
  const ULONGLONG start = io->dwBuffer;
  const ULONGLONG end = start + io->wSectors * kSectorSize;
  const ULONGLONG staging = static_cast<DWORD>(reinterpret_cast<uintptr_t>(volume.m_pBuffer));
  return start < staging + volume.m_llBufferSize && staging < end;
}

bool PlaceDevicePointer(CKestro32& volume) {
  const LONGLONG sectorStart = static_cast<LONGLONG>(volume.m_llSector << kSectorShift);
  return volume.DriveSeek(volume.m_hDisk, sectorStart, FILE_BEGIN) == sectorStart;
}

bool MissingBuffer(const void* buffer, DWORD length) {
  if (buffer != nullptr || length == 0) return false;
  SetLastError(ERROR_INVALID_PARAMETER);
  return true;
}

void DropWindow(CKestro32& volume) {
  WindowFlag(volume).store(0, std::memory_order_release);
  DropWindowsSharingBuffer(volume);
}

void DropWindowsForWrite(CKestro32& volume) {
  WindowFlag(volume).store(0, std::memory_order_release);
  DropWindowsSharingVolume(volume);
}

void SetWindow(CKestro32& volume, ULONGLONG start, ULONGLONG length) {
  volume.m_llWindowStart = start;
  volume.m_llWindowLength = length;
  WindowFlag(volume).store(1, std::memory_order_release);
}

}  // namespace kestro
