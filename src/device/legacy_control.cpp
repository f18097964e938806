// Volume control on the legacy family: DOS generic IOCTL for block devices (interrupt 21h,
// AX = 440Dh) sent through the VWIN32 device held in m_hDisk.
#include <Kestro32.h>

#include "device/dos_call.h"

using namespace win32;
using kestro::GenericIoctl;

namespace {

// CX: the device category in CH, the minor code in CL.
constexpr DWORD kLockLogicalVolume = 0x084A;
constexpr DWORD kUnlockLogicalVolume = 0x086A;
constexpr DWORD kGetMediaId = 0x0866;
constexpr DWORD kGetLockState = 0x0870;
constexpr DWORD kGetDeviceParametersFat32 = 0x4860;

// The lock permissions: other processes may go on writing while a level-1 lock is held.
constexpr DWORD kLockPermissions = 0x0001;

constexpr int kLockStateFailed = -1;

}  // namespace

int CKestro32::DoIOCTL(_DEVIOCTL_REGISTERS* regs) {
  regs->reg_Flags = kestro::kDosFlagsPreset;
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  return kestro::RunDosCall(m_hDisk, VWIN32_DIOC_DOS_IOCTL, *regs);
}

int CKestro32::LockVolume(unsigned int drive, unsigned int level) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  _DEVIOCTL_REGISTERS registers =
      GenericIoctl(kLockLogicalVolume, ((level & 0xFF) << 8) | (drive & 0xFF));
  registers.reg_EDX = kLockPermissions;
  return kestro::RunDosCall(m_hDisk, VWIN32_DIOC_DOS_IOCTL, registers);
}

int CKestro32::UnlockVolume(unsigned int drive) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  _DEVIOCTL_REGISTERS registers = GenericIoctl(kUnlockLogicalVolume, drive);
  return kestro::RunDosCall(m_hDisk, VWIN32_DIOC_DOS_IOCTL, registers);
}

int CKestro32::GetCurrentLockState(unsigned int drive) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  _DEVIOCTL_REGISTERS registers = GenericIoctl(kGetLockState, drive);
  if (!kestro::RunDosCall(m_hDisk, VWIN32_DIOC_DOS_IOCTL, registers)) return kLockStateFailed;
  // The level comes back in AX; the rest of EAX is returned as the call left it.
  return static_cast<int>(registers.reg_EAX);
}

int CKestro32::GetMediaID(_MID* mid, unsigned int drive) {
  _DEVIOCTL_REGISTERS registers = GenericIoctl(kGetMediaId, drive);
  registers.reg_EDX = kestro::LinearAddress(mid);
  return DoIOCTL(&registers);
}

int CKestro32::GetGeometry(EA_DEVICEPARAMETERS* params, unsigned int drive) {
  _DEVIOCTL_REGISTERS registers = GenericIoctl(kGetDeviceParametersFat32, drive);
  registers.reg_EDX = kestro::LinearAddress(params);
  return DoIOCTL(&registers);
}
