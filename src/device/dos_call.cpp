#include "device/dos_call.h"

using namespace win32;

namespace kestro {

bool RunDosCall(HANDLE device, DWORD code, _DEVIOCTL_REGISTERS& registers) {
  DWORD returned = 0;
  const BOOL sent = DeviceIoControl(device, code, &registers, sizeof registers, &registers,
                                    sizeof registers, &returned, nullptr);
  return sent && !(registers.reg_Flags & CARRY_FLAG);
}

}  // namespace kestro
