#include "vwin32/dos_generic_ioctl.h"

#include <algorithm>
#include <cstring>

#include <win32/errors.h>

#include "vwin32/dos_registers.h"
#include "vwin32/dos_volume.h"
#include "windows_release.h"

namespace kestro::posix {
namespace {

using kestro::ondisk::kBpbOffset;
using kestro::ondisk::kCommonBpbSize;
using kestro::ondisk::kFat32BpbSize;

constexpr BYTE kBlockDevice = 0x08;
constexpr BYTE kBlockDeviceFat32 = 0x48;

constexpr BYTE kLockLogicalVolume = 0x4A;
constexpr BYTE kUnlockLogicalVolume = 0x6A;
constexpr BYTE kGetLockState = 0x70;
constexpr BYTE kGetMediaId = 0x66;
constexpr BYTE kGetDeviceParameters = 0x60;

constexpr WORD kNotLockedLevel = 0xFFFF;  // AX of the lock state when no lock is held

// Generic IOCTL answers 0002h for a drive it does not know.
constexpr DosErrorCodes kIoctlErrors{ERROR_FILE_NOT_FOUND, ERROR_WRITE_PROTECT,
                                     ERROR_SECTOR_NOT_FOUND, ERROR_READ_FAULT, ERROR_WRITE_FAULT};

// What device parameters report for every mapped volume: a fixed disk.
constexpr BYTE kFixedDisk = 0x05;
constexpr WORD kNotRemovable = 0x0001;

DWORD Answer(DosRegisters& regs, WORD error) {
  if (error == 0) {
    regs.Succeed();
  } else {
    regs.Fail(error);
  }
  return ERROR_SUCCESS;
}

// Reads the boot sector of drive `letter` into `sector`; on failure returns nullopt with *error.
std::optional<FatBootSector> ReadBootSector(char letter, std::span<uint8_t, kBootSectorSize> sector,
                                            WORD* error) {
  VolumeStatus status = VolumeStatus::kOk;
  auto volume = DosVolume::Open(letter, false, &status);
  auto boot = volume ? volume->BootSector(sector, &status) : std::nullopt;
  if (status != VolumeStatus::kOk) {
    *error = kIoctlErrors.For(status);
  } else if (!boot) {
    *error = ERROR_INVALID_FUNCTION;  // no FAT file system that could answer
  }
  return boot;
}

WORD FillMediaId(char letter, _MID& mid) {
  if (mid.midInfoLevel != 0) return ERROR_INVALID_FUNCTION;
  WORD error = 0;
  uint8_t sector[kBootSectorSize];
  const auto boot = ReadBootSector(letter, sector, &error);
  if (!boot) return error;
  if (!boot->hasVolumeId) return ERROR_INVALID_FUNCTION;
  mid.midSerialNum = boot->serialNumber;
  std::copy(boot->label.begin(), boot->label.end(), mid.midVolLabel);
  std::copy(boot->fileSystemType.begin(), boot->fileSystemType.end(), mid.midFileSysType);
  return 0;
}

// Fills the record of either form; the category-08h one ends after the shared 25 BPB bytes.
WORD FillDeviceParameters(char letter, EA_DEVICEPARAMETERS& params, bool fat32Form) {
  WORD error = 0;
  uint8_t sector[kBootSectorSize];
  const auto boot = ReadBootSector(letter, sector, &error);
  if (!boot) return error;
  params.bDevType = kFixedDisk;
  params.wDevAttr = kNotRemovable;
  const uint64_t perCylinder = uint64_t{boot->heads} * boot->sectorsPerTrack;
  params.dCylinders = static_cast<WORD>(
      perCylinder == 0 ? 0 : std::min<uint64_t>(boot->totalSectors / perCylinder, 0xFFFF));
  params.bMediaType = 0;
  // Past the shared 25 bytes, only a FAT32 boot sector holds what the FAT32 block means.
  BYTE* bpb = reinterpret_cast<BYTE*>(&params.stdBpb);
  const size_t copied = boot->fatBits == 32 && fat32Form ? kFat32BpbSize : kCommonBpbSize;
  std::memcpy(bpb, sector + kBpbOffset, copied);
  if (fat32Form) {
    std::fill(bpb + copied, bpb + kFat32BpbSize, BYTE{0});
    std::fill(std::begin(params.reserved), std::end(params.reserved), BYTE{0});
  }
  return 0;
}

}  // namespace

DWORD GenericIoctl(DEVIOCTL_REGISTERS& registers, const DosLockOwner& owner) {
  DosRegisters regs(registers);
  const bool fat32Category = regs.ch() == kBlockDeviceFat32 && ReleaseHasFat32Calls();
  if (regs.ch() != kBlockDevice && !fat32Category) return Answer(regs, ERROR_INVALID_FUNCTION);
  const BYTE minor = regs.cl();
  const bool recordCall = minor == kGetMediaId || minor == kGetDeviceParameters;
  if (!recordCall && minor != kLockLogicalVolume && minor != kUnlockLogicalVolume &&
      minor != kGetLockState) {
    return Answer(regs, ERROR_INVALID_FUNCTION);
  }
  // The record calls name the drive in BX, the lock calls in BL (BH holds the lock level).
  const char letter = DriveLetter(recordCall ? regs.bx() : regs.bl());
  if (!DriveExists(letter)) return Answer(regs, ERROR_FILE_NOT_FOUND);
  if (recordCall && regs.edxAddress() == nullptr) return ERROR_NOACCESS;

  switch (minor) {
    case kLockLogicalVolume:
      return Answer(regs, TakeVolumeLock(letter, owner, regs.bh(), regs.dx()));
    case kUnlockLogicalVolume:
      return Answer(regs, ReleaseVolumeLock(letter, owner));
    case kGetLockState: {
      const VolumeLockState state = CurrentLock(letter);
      const bool locked = state.level != kNotLocked;
      regs.SetAx(locked ? static_cast<WORD>(state.level) : kNotLockedLevel);
      if (locked) regs.SetCx(state.permissions);
      return Answer(regs, 0);
    }
    case kGetMediaId:
      return Answer(regs, FillMediaId(letter, *static_cast<_MID*>(regs.edxAddress())));
    default:
      return Answer(
          regs, FillDeviceParameters(letter, *static_cast<EA_DEVICEPARAMETERS*>(regs.edxAddress()),
                                     fat32Category));
  }
}

}  // namespace kestro::posix
