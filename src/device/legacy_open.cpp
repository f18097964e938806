// Making a legacy-family volume object usable: the opening constructor opens no device there, so
// the host hands the object here to open the VWIN32 device and size the volume from the drive's
// device parameters.
#include <Kestro32.h>

#include "device/dos_call.h"
#include "volume/sector.h"

using namespace win32;

namespace kestro {
namespace {

// CX of Get Device Parameters: the FAT32 form (category 48h), and the form every release of the
// family has (category 08h), which the first releases are left with.
constexpr DWORD kDeviceParametersFat32 = 0x4860;
constexpr DWORD kDeviceParameters = 0x0860;
constexpr BYTE kCurrentMedium = 0x01;  // special functions: the medium now in the drive

// Sends Get Device Parameters of form `function` for `drive` (1 = A:) through `device`. On a
// DOS failure the last error is DOS's code, which has the same value as the Win32 one.
BOOL QueryDeviceParameters(HANDLE device, DWORD function, unsigned drive,
                           EA_DEVICEPARAMETERS* params) {
  _DEVIOCTL_REGISTERS registers = GenericIoctl(function, drive);
  registers.reg_EDX = LinearAddress(params);
  if (RunDosCall(device, VWIN32_DIOC_DOS_IOCTL, registers)) return TRUE;
  if (registers.reg_Flags & CARRY_FLAG) SetLastError(registers.reg_EAX & 0xFFFF);
  return FALSE;
}

// The volume's size in 512-byte sectors by its BPB: the 16-bit count of small volumes, else the
// 32-bit one, in the volume's own sector size.
ULONGLONG SectorsOf(const A_BF_BPB& bpb) {
  const ULONGLONG large =
      (ULONGLONG{bpb.A_BF_BPB_BigTotalSectorsHigh} << 16) | bpb.A_BF_BPB_BigTotalSectors;
  const ULONGLONG sectors = bpb.A_BF_BPB_TotalSectors != 0 ? bpb.A_BF_BPB_TotalSectors : large;
  return sectors * bpb.A_BF_BPB_BytesPerSector / kSectorSize;
}

}  // namespace

BOOL OpenLegacyVolume(CKestro32& volume) {
  if (volume.m_hDisk != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const HANDLE device =
      CreateFileW(WTEXT("\\\\.\\VWIN32"), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return FALSE;
  EA_DEVICEPARAMETERS params{};
  params.bSpecFunc = kCurrentMedium;
  if (!QueryDeviceParameters(device, kDeviceParametersFat32, volume.m_nDrive, &params) &&
      !QueryDeviceParameters(device, kDeviceParameters, volume.m_nDrive, &params)) {
    const DWORD error = GetLastError();
    CloseHandle(device);
    SetLastError(error);
    return FALSE;
  }
  volume.m_hDisk = device;
  volume.m_llTotalSectors = SectorsOf(params.stdBpb);
  volume.m_llVolumeSize = volume.m_llTotalSectors * kSectorSize;
  return TRUE;
}

}  // namespace kestro
