// A DOS call as the VWIN32 device carries it: the 8- and 16-bit register views DOS reads and
// writes inside the 32-bit register image, and the carry-flag result.
#pragma once

#include <cstdint>

#include <win32/errors.h>
#include <win32/vwin32.h>

namespace kestro::posix {

using namespace win32;

class DosRegisters {
 public:
  explicit DosRegisters(DEVIOCTL_REGISTERS& registers) : r_(registers) {}

  WORD ax() const { return Low(r_.reg_EAX); }
  BYTE al() const { return static_cast<BYTE>(r_.reg_EAX); }
  BYTE ah() const { return static_cast<BYTE>(r_.reg_EAX >> 8); }
  WORD bx() const { return Low(r_.reg_EBX); }
  BYTE bl() const { return static_cast<BYTE>(r_.reg_EBX); }
  BYTE bh() const { return static_cast<BYTE>(r_.reg_EBX >> 8); }
  WORD cx() const { return Low(r_.reg_ECX); }
  BYTE cl() const { return static_cast<BYTE>(r_.reg_ECX); }
  BYTE ch() const { return static_cast<BYTE>(r_.reg_ECX >> 8); }
  WORD dx() const { return Low(r_.reg_EDX); }
  BYTE dl() const { return static_cast<BYTE>(r_.reg_EDX); }
  WORD si() const { return Low(r_.reg_ESI); }

  // The memory a register's 32-bit linear address names.
  static void* Address(DWORD linear) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(linear));
  }
  void* ebxAddress() const { return Address(r_.reg_EBX); }
  void* edxAddress() const { return Address(r_.reg_EDX); }

  // Writing AX or CX leaves the upper half of the 32-bit register as it was.
  void SetAx(WORD value) { r_.reg_EAX = (r_.reg_EAX & 0xFFFF0000u) | value; }
  void SetCx(WORD value) { r_.reg_ECX = (r_.reg_ECX & 0xFFFF0000u) | value; }

  void Succeed() { r_.reg_Flags &= ~CARRY_FLAG; }
  // A failed call sets carry and leaves its error code in AX. Interrupt 21h's extended error
  // codes are the numbers Win32 kept, so those calls fail with the ERROR_ constant of that value.
  void Fail(WORD errorCode) {
    SetAx(errorCode);
    r_.reg_Flags |= CARRY_FLAG;
  }

 private:
  static WORD Low(DWORD value) { return static_cast<WORD>(value); }

  DEVIOCTL_REGISTERS& r_;
};

}  // namespace kestro::posix
