#include "vwin32/dos_disk_io.h"

#include <cstring>

#include <win32/errors.h>

#include "vwin32/dos_registers.h"
#include "vwin32/dos_volume.h"

namespace kestro::posix {
namespace {

// Interrupts 25h and 26h answer with the disk status in AH and the critical-error code in AL.
constexpr DosErrorCodes kAbsoluteErrors{
    0x0201,  // unknown unit
    0x0300,  // write-protected disk, write-protect error
    0x0408,  // requested sector not found, sector not found
    0x200B,  // controller failed, read fault
    0x200A,  // controller failed, write fault
};
// The answer for a FAT32 volume, and for the old register form on a volume of over 65535
// sectors: the caller must use the packet form (or, for FAT32, function 7305h).
constexpr WORD kAbsoluteNeedsOtherCall = 0x0207;
// A transfer another handle's lock refuses: the drive is not ready, or write-protected.
constexpr WORD kAbsoluteLockedRead = 0x8002;
constexpr WORD kAbsoluteLockedWrite = 0x0300;

constexpr DosErrorCodes kExtendedErrors{ERROR_INVALID_DRIVE, ERROR_WRITE_PROTECT,
                                        ERROR_SECTOR_NOT_FOUND, ERROR_READ_FAULT,
                                        ERROR_WRITE_FAULT};

constexpr WORD kPacketForm = 0xFFFF;          // CX value that selects the packet form
constexpr WORD kOldFormSectorLimit = 0xFFFF;  // largest volume the old form can address
constexpr WORD kWriteMode = 0x0001;           // SI bit 0 of function 7305h
constexpr WORD kReservedModeBits = 0x1FFE;    // SI bits 1 to 12 of function 7305h

struct Transfer {
  uint64_t first = 0;
  uint32_t count = 0;
  void* buffer = nullptr;
};

bool ReadPacket(const void* address, Transfer* transfer) {
  if (address == nullptr) return false;
  DISKIO packet;
  std::memcpy(&packet, address, sizeof packet);
  *transfer =
      Transfer{packet.dwStartSector, packet.wSectors, DosRegisters::Address(packet.dwBuffer)};
  return true;
}

// Moves the sectors of `transfer` unless another handle's lock refuses them.
DWORD Carry(DosRegisters& regs, const DosVolume& volume, char letter, const DosLockOwner& owner,
            const Transfer& transfer, bool write, const DosErrorCodes& errors, WORD lockedError) {
  if (!LockAllowsTransfer(letter, owner, write)) {
    regs.Fail(lockedError);
    return ERROR_SUCCESS;
  }
  if (transfer.buffer == nullptr && transfer.count > 0) return ERROR_NOACCESS;
  const VolumeStatus status = write ? volume.Write(transfer.first, transfer.count, transfer.buffer)
                                    : volume.Read(transfer.first, transfer.count, transfer.buffer);
  if (status == VolumeStatus::kOk) {
    regs.Succeed();
  } else {
    regs.Fail(errors.For(status));
  }
  return ERROR_SUCCESS;
}

std::optional<DosVolume> OpenDrive(char letter, bool write, VolumeStatus* status) {
  if (letter != 0) return DosVolume::Open(letter, write, status);
  *status = VolumeStatus::kNoDrive;
  return std::nullopt;
}

}  // namespace

DWORD AbsoluteDiskTransfer(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner, bool write) {
  DosRegisters regs(registers);
  const char letter = DriveLetter(regs.al() + 1u);
  VolumeStatus status = VolumeStatus::kOk;
  auto volume = OpenDrive(letter, write, &status);
  uint8_t bootSector[kBootSectorSize];
  const auto boot = volume ? volume->BootSector(bootSector, &status) : std::nullopt;
  if (status != VolumeStatus::kOk) {
    regs.Fail(kAbsoluteErrors.For(status));
    return ERROR_SUCCESS;
  }
  Transfer transfer;
  if (regs.cx() == kPacketForm) {
    if (!ReadPacket(regs.ebxAddress(), &transfer)) return ERROR_NOACCESS;
  } else {
    transfer = Transfer{regs.dx(), regs.cx(), regs.ebxAddress()};
  }
  const bool oldFormTooLarge = regs.cx() != kPacketForm && volume->sectors() > kOldFormSectorLimit;
  if ((boot && boot->fatBits == 32) || oldFormTooLarge) {
    regs.Fail(kAbsoluteNeedsOtherCall);
    return ERROR_SUCCESS;
  }
  return Carry(regs, *volume, letter, owner, transfer, write, kAbsoluteErrors,
               write ? kAbsoluteLockedWrite : kAbsoluteLockedRead);
}

DWORD ExtendedDiskTransfer(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner) {
  DosRegisters regs(registers);
  if (regs.cx() != kPacketForm || (regs.si() & kReservedModeBits)) {
    regs.Fail(ERROR_INVALID_PARAMETER);
    return ERROR_SUCCESS;
  }
  const bool write = regs.si() & kWriteMode;
  const char letter = DriveLetter(regs.dl());
  VolumeStatus status = VolumeStatus::kOk;
  auto volume = OpenDrive(letter, write, &status);
  if (!volume) {
    regs.Fail(kExtendedErrors.For(status));
    return ERROR_SUCCESS;
  }
  Transfer transfer;
  if (!ReadPacket(regs.ebxAddress(), &transfer)) return ERROR_NOACCESS;
  return Carry(regs, *volume, letter, owner, transfer, write, kExtendedErrors, ERROR_ACCESS_DENIED);
}

}  // namespace kestro::posix
