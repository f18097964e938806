#include "vwin32/vwin32_device.h"

#include <cstring>

#include <win32/errors.h>
#include <win32/vwin32.h>

#include "errno_map.h"
#include "vwin32/dos_disk_io.h"
#include "vwin32/dos_generic_ioctl.h"
#include "vwin32/dos_locks.h"
#include "vwin32/dos_registers.h"
#include "windows_release.h"

namespace kestro::posix {
namespace {

constexpr bool kAddressesFitRegisters = sizeof(void*) == sizeof(DWORD);

constexpr WORD kGenericIoctl = 0x440D;
constexpr WORD kExtendedDiskIo = 0x7305;

// Runs the DOS call the control code names; returns the Win32 error of a call not carried out.
DWORD RunDosCall(DWORD code, DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner) {
  DosRegisters regs(registers);
  switch (code) {
    case VWIN32_DIOC_DOS_INT25:
      return AbsoluteDiskTransfer(registers, owner, false);
    case VWIN32_DIOC_DOS_INT26:
      return AbsoluteDiskTransfer(registers, owner, true);
    case VWIN32_DIOC_DOS_IOCTL:
      if (regs.ax() == kGenericIoctl) return GenericIoctl(registers, owner);
      break;
    case VWIN32_DIOC_DOS_DRIVEINFO:
      if (regs.ax() == kExtendedDiskIo && ReleaseHasFat32Calls()) {
        return ExtendedDiskTransfer(registers, owner);
      }
      break;
    default:
      return ERROR_NOT_SUPPORTED;
  }
  regs.Fail(ERROR_INVALID_FUNCTION);
  return ERROR_SUCCESS;
}

}  // namespace

std::shared_ptr<OpenObject> OpenLegacyDevice() {
  if (!kAddressesFitRegisters) {
    Fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto device = std::make_shared<OpenObject>();
  device->kind = ObjectKind::kLegacyDevice;
  device->lockOwner = std::make_shared<DosLockOwner>();
  return device;
}

BOOL ControlLegacyDevice(OpenObject& device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned) {
  if (returned) *returned = 0;
  if (in == nullptr || out == nullptr || inSize < sizeof(DEVIOCTL_REGISTERS) ||
      outSize < sizeof(DEVIOCTL_REGISTERS)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DEVIOCTL_REGISTERS registers;
  std::memcpy(&registers, in, sizeof registers);
  const DWORD error = RunDosCall(code, registers, *device.lockOwner);
  if (error != ERROR_SUCCESS) return Fail(error);
  std::memcpy(out, &registers, sizeof registers);
  if (returned) *returned = sizeof registers;
  return TRUE;
}

}  // namespace kestro::posix
