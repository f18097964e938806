// The fixed-size NT control requests on the open volume, and the boot-sector read.
#include <Kestro32.h>

#include <cstring>

#include "volume/sector.h"

using namespace win32;
using kestro::kSectorSize;

namespace {

constexpr size_t kBootParamsOffset = 11;

struct Reply {
  BOOL result;
  DWORD bytes;
  DWORD error;  // read right after the request, whether or not it succeeded
};

Reply Send(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD bytes = 0;
  const BOOL result = DeviceIoControl(device, code, in, inSize, out, outSize, &bytes, nullptr);
  return Reply{result, bytes, GetLastError()};
}

}  // namespace

int CKestro32::GetGeometry(DISK_GEOMETRY* geometry) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  return Send(m_hDisk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof *geometry)
      .result;
}

int CKestro32::LockNTVolume() {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  return Send(m_hDisk, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).result;
}

int CKestro32::UnlockNTVolume() {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  return Send(m_hDisk, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0).result;
}

int CKestro32::SetPartitionInfo(SET_PARTITION_INFORMATION* info) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  return Send(m_hDisk, IOCTL_DISK_SET_PARTITION_INFO, info, sizeof *info, nullptr, 0).result;
}

int CKestro32::GetPartitionInfo(PARTITION_INFORMATION* info) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  const Reply reply = Send(m_hDisk, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, info, sizeof *info);
  wprintf(WTEXT("IOCTL_DISK_GET_PARTITION_INFO(fResult = %d, cb = %d, lasterror = %d)\r\n"),
          reply.result, reply.bytes, reply.error);
  return reply.result;
}

int CKestro32::GetPartitionInfoEx(PARTITION_INFORMATION_EX* info) {
  if (m_hDisk == INVALID_HANDLE_VALUE) {
    wprintf(WTEXT("m_hDisk == (HANDLE) INVALID_HANDLE_VALUE ??\r\n"));
    return 0;
  }
  const Reply reply =
      Send(m_hDisk, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, info, sizeof *info);
  wprintf(WTEXT("IOCTL_DISK_GET_PARTITION_INFO_EX(fResult = %d, cb = %d, lasterror = %d)\r\n"),
          reply.result, reply.bytes, reply.error);
  return reply.result;
}

// Reads the sector at the device's current position (the boot sector on a fresh handle) and
// keeps its parameter block, bytes 11 through 83.
int CKestro32::GetDiskInfo() {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  auto* sector = static_cast<BYTE*>(VirtualAlloc(nullptr, kSectorSize, MEM_COMMIT, PAGE_READWRITE));
  if (sector == nullptr) return 0;
  DWORD read = 0;
  const BOOL result = ReadFile(m_hDisk, sector, kSectorSize, &read, nullptr);
  if (result && read > 0) {
    std::memcpy(m_BootParams, sector + kBootParamsOffset, sizeof m_BootParams);
  }
  VirtualFree(sector, 0, MEM_RELEASE);
  return result;
}
