// Absolute sector transfer on the legacy family: a DOS disk call, described by a register block
// and a _DISKIO packet, executed by the VWIN32 device held in m_hDisk.
#include <Kestro32.h>

#include "device/dos_call.h"
#include "volume/transfer.h"

using namespace win32;
using kestro::kDosFlagsPreset;
using kestro::LinearAddress;

namespace {

constexpr DWORD kPacketFormOfInt25 = 0x0000FFFF;      // CX = FFFFh: the packet form
constexpr DWORD kPacketFormOfDriveInfo = 0xFFFFFFFF;  // ECX = -1 for function 7305h
constexpr DWORD kExtendedAbsoluteDiskIo = 0x7305;

// ESI of a 7305h request: bit 0 asks for a write, bits 13 to 15 say what is written.
constexpr DWORD kReadRequest = 0x0000;
constexpr DWORD kWriteFileData = 0x6001;
constexpr DWORD kWriteDirectoryData = 0x4001;
constexpr DWORD kWriteFatData = 0x2001;

DWORD WriteRequest(int kind) {
  switch (kind) {
    case 1:
      return kWriteDirectoryData;
    case 2:
      return kWriteFatData;
    default:
      return kWriteFileData;
  }
}

// Interrupts 25h and 26h of the first releases: drive counted from 0 in AL.
_DEVIOCTL_REGISTERS AbsoluteDiskCall(const _DISKIO* io, unsigned int drive) {
  _DEVIOCTL_REGISTERS regs = {};
  regs.reg_EBX = LinearAddress(io);
  regs.reg_ECX = kPacketFormOfInt25;
  regs.reg_EAX = drive - 1;
  regs.reg_Flags = kDosFlagsPreset;
  return regs;
}

// Function 7305h of later releases: drive counted from 1 in DL, direction and data kind in SI.
_DEVIOCTL_REGISTERS ExtendedDiskCall(const _DISKIO* io, unsigned int drive, DWORD request) {
  _DEVIOCTL_REGISTERS regs = {};
  regs.reg_EBX = LinearAddress(io);
  regs.reg_EDX = drive;
  regs.reg_ECX = kPacketFormOfDriveInfo;
  regs.reg_EAX = kExtendedAbsoluteDiskIo;
  regs.reg_ESI = request;
  regs.reg_Flags = kDosFlagsPreset;
  return regs;
}

}  // namespace

int CKestro32::NewReadSector(_DISKIO* io, unsigned int drive) {
  const bool firstRelease = VersionIsW95_40950() != 0;
  _DEVIOCTL_REGISTERS regs =
      firstRelease ? AbsoluteDiskCall(io, drive) : ExtendedDiskCall(io, drive, kReadRequest);
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  if (kestro::PacketReachesStagingBuffer(*this, io)) kestro::DropWindow(*this);
  const DWORD code = firstRelease ? VWIN32_DIOC_DOS_INT25 : VWIN32_DIOC_DOS_DRIVEINFO;
  return kestro::RunDosCall(m_hDisk, code, regs) ? 1 : 0;
}

// Whatever buffer the packet names, the sectors it writes change under every window over them.
int CKestro32::NewWriteSector(_DISKIO* io, unsigned int drive, int kind) {
  if (m_hDisk == INVALID_HANDLE_VALUE) return 0;
  kestro::DropWindowsForWrite(*this);
  const bool firstRelease = VersionIsW95_40950() != 0;
  _DEVIOCTL_REGISTERS regs =
      firstRelease ? AbsoluteDiskCall(io, drive) : ExtendedDiskCall(io, drive, WriteRequest(kind));
  const DWORD code = firstRelease ? VWIN32_DIOC_DOS_INT26 : VWIN32_DIOC_DOS_DRIVEINFO;
  return kestro::RunDosCall(m_hDisk, code, regs) ? 1 : 0;
}
