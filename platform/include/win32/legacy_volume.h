// Makes a volume object of the legacy family (Windows 95, 98 and Me) usable.
//
// There the opening constructor measures free space only: it opens no device and sizes nothing,
// while the legacy operations send DOS calls through the VWIN32 device held in m_hDisk and bound
// every position by m_llVolumeSize. After constructing the object, a host calls
//
//   if (!win32::OpenLegacyVolume(volume)) { /* GetLastError() tells why */ }
//
// which opens the device into volume.m_hDisk and sizes the volume from the drive's device
// parameters. The object closes the handle when it is destroyed, as it closes any device.
//
// Header-only, so that it serves the Windows build (where the platform layer is empty) as well.
#pragma once

#include <win32/windows.h>

#include <cstdint>

namespace win32 {

namespace legacy_volume {

inline constexpr DWORD kGenericIoctl = 0x440D;
// CX of Get Device Parameters: the FAT32 form (category 48h), and the form every release of the
// family has (category 08h), which the first releases are left with.
inline constexpr DWORD kDeviceParametersFat32 = 0x4860;
inline constexpr DWORD kDeviceParameters = 0x0860;
inline constexpr BYTE kCurrentMedium = 0x01;  // special functions: the medium now in the drive
inline constexpr ULONGLONG kSectorSize = 512;

// Sends Get Device Parameters of form `function` for `drive` (1 = A:) through `device`. On a
// DOS failure the last error is DOS's code, which has the same value as the Win32 one.
inline BOOL QueryDeviceParameters(HANDLE device, DWORD function, unsigned drive,
                                  EA_DEVICEPARAMETERS* params) {
  DIOC_REGISTERS registers{};
  registers.reg_EAX = kGenericIoctl;
  registers.reg_ECX = function;
  registers.reg_EBX = drive;
  registers.reg_EDX = static_cast<DWORD>(reinterpret_cast<uintptr_t>(params));
  DWORD returned = 0;
  if (!DeviceIoControl(device, VWIN32_DIOC_DOS_IOCTL, &registers, sizeof registers, &registers,
                       sizeof registers, &returned, nullptr)) {
    return FALSE;
  }
  if (!(registers.reg_Flags & CARRY_FLAG)) return TRUE;
  SetLastError(registers.reg_EAX & 0xFFFF);
  return FALSE;
}

// The volume's size in 512-byte sectors by its BPB: the 16-bit count of small volumes, else the
// 32-bit one, in the volume's own sector size.
inline ULONGLONG SectorsOf(const A_BF_BPB& bpb) {
  const ULONGLONG large =
      (ULONGLONG{bpb.A_BF_BPB_BigTotalSectorsHigh} << 16) | bpb.A_BF_BPB_BigTotalSectors;
  const ULONGLONG sectors = bpb.A_BF_BPB_TotalSectors != 0 ? bpb.A_BF_BPB_TotalSectors : large;
  return sectors * bpb.A_BF_BPB_BytesPerSector / kSectorSize;
}

}  // namespace legacy_volume

// Opens the VWIN32 device into volume.m_hDisk and sets volume.m_llTotalSectors and
// volume.m_llVolumeSize (m_llTotalSectors x 512) from the device parameters of drive
// volume.m_nDrive. Returns FALSE, with the object unchanged and the last error set, when the
// object already holds a device, the device cannot be opened or the drive cannot be sized.
// m_bReady is left as the constructor set it.
template <typename Volume>
BOOL OpenLegacyVolume(Volume& volume) {
  if (volume.m_hDisk != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const HANDLE device =
      CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return FALSE;
  EA_DEVICEPARAMETERS params{};
  params.bSpecFunc = legacy_volume::kCurrentMedium;
  if (!legacy_volume::QueryDeviceParameters(device, legacy_volume::kDeviceParametersFat32,
                                            volume.m_nDrive, &params) &&
      !legacy_volume::QueryDeviceParameters(device, legacy_volume::kDeviceParameters,
                                            volume.m_nDrive, &params)) {
    const DWORD error = GetLastError();
    CloseHandle(device);
    SetLastError(error);
    return FALSE;
  }
  volume.m_hDisk = device;
  volume.m_llTotalSectors = legacy_volume::SectorsOf(params.stdBpb);
  volume.m_llVolumeSize = volume.m_llTotalSectors * legacy_volume::kSectorSize;
  return TRUE;
}

}  // namespace win32
