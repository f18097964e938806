#include "device/dos_call.h"

#include <cstdint>

using namespace win32;

namespace kestro {
namespace {

constexpr DWORD kGenericIoctl = 0x440D;

}  // namespace

_DEVIOCTL_REGISTERS GenericIoctl(DWORD function, DWORD drive) {
  _DEVIOCTL_REGISTERS registers{};
  registers.reg_EAX = kGenericIoctl;
  registers.reg_ECX = function;
  registers.reg_EBX = drive;
  return registers;
}

DWORD LinearAddress(const void* pointer) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(pointer));
}

bool RunDosCall(HANDLE device, DWORD code, _DEVIOCTL_REGISTERS& registers) {
  DWORD returned = 0;
  const BOOL sent = DeviceIoControl(device, code, &registers, sizeof registers, &registers,
                                    sizeof registers, &returned, nullptr);
  return sent && !(registers.reg_Flags & CARRY_FLAG);
}

}  // namespace kestro
