// A DOS call as the VWIN32 device carries it: the 8- and 16-bit register views DOS reads and
// writes inside the 32-bit register image, the carry-flag result, and DOS's error codes.
#pragma once

#include <cstdint>

#include <win32/vwin32.h>

namespace win32::posix {

// Error codes of interrupt 21h calls (the extended error codes), returned in AX with carry set.
namespace dos {
inline constexpr WORD kInvalidFunction = 0x0001;
inline constexpr WORD kFileNotFound = 0x0002;  // what generic IOCTL answers for a bad drive
inline constexpr WORD kAccessDenied = 0x0005;
inline constexpr WORD kInvalidDrive = 0x000F;
inline constexpr WORD kWriteProtect = 0x0013;
inline constexpr WORD kSectorNotFound = 0x001B;
inline constexpr WORD kWriteFault = 0x001D;
inline constexpr WORD kReadFault = 0x001E;
inline constexpr WORD kGeneralFailure = 0x001F;
inline constexpr WORD kInvalidParameter = 0x0057;
}  // namespace dos

class DosRegisters {
 public:
  explicit DosRegisters(DIOC_REGISTERS& registers) : r_(registers) {}

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
  void Fail(WORD errorCode) {
    SetAx(errorCode);
    r_.reg_Flags |= CARRY_FLAG;
  }

 private:
  static WORD Low(DWORD value) { return static_cast<WORD>(value); }

  DIOC_REGISTERS& r_;
};

}  // namespace win32::posix
