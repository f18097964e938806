// The legacy family's VWIN32 device: its control codes and the DOS records that travel with them.
// No system header declares these, so the layer does on every platform.
#pragma once

#include <cstddef>

#include <win32/types.h>

#ifdef _WIN32
#define KESTRO_VWIN32_NAMESPACE_BEGIN
#define KESTRO_VWIN32_NAMESPACE_END
#else
#define KESTRO_VWIN32_NAMESPACE_BEGIN namespace win32 {
#define KESTRO_VWIN32_NAMESPACE_END }
#endif

// The volume class takes the next two records by these global names on every platform; the
// emulator reads the same ones.

// The register image a DOS call travels in: the device loads it into the processor's registers
// before the call and writes them back after it. Registers that carry an address hold a 32-bit
// linear address.
typedef struct _DEVIOCTL_REGISTERS {
  win32::DWORD reg_EBX;
  win32::DWORD reg_EDX;
  win32::DWORD reg_ECX;
  win32::DWORD reg_EAX;
  win32::DWORD reg_EDI;
  win32::DWORD reg_ESI;
  win32::DWORD reg_Flags;  // bit 0 is the carry flag, set by a DOS call that failed
} DEVIOCTL_REGISTERS, *PDEVIOCTL_REGISTERS;

#pragma pack(push, 1)
// DOS absolute-disk packet (CX = FFFFh form of interrupts 25h/26h and of function 7305h).
typedef struct _DISKIO {
  win32::DWORD dwStartSector;  // counted from the start of the logical drive
  win32::WORD wSectors;        // 512-byte sectors to transfer
  win32::DWORD dwBuffer;       // linear address of the transfer buffer
} DISKIO, *PDISKIO;
#pragma pack(pop)

static_assert(sizeof(_DEVIOCTL_REGISTERS) == 28 && offsetof(_DEVIOCTL_REGISTERS, reg_Flags) == 24);
static_assert(sizeof(_DISKIO) == 10 && offsetof(_DISKIO, dwBuffer) == 6);

KESTRO_VWIN32_NAMESPACE_BEGIN

inline constexpr DWORD VWIN32_DIOC_DOS_IOCTL = 1;      // interrupt 21h, AX = 44xxh
inline constexpr DWORD VWIN32_DIOC_DOS_INT25 = 2;      // absolute disk read
inline constexpr DWORD VWIN32_DIOC_DOS_INT26 = 3;      // absolute disk write
inline constexpr DWORD VWIN32_DIOC_DOS_INT13 = 4;      // BIOS disk services
inline constexpr DWORD VWIN32_DIOC_DOS_DRIVEINFO = 6;  // interrupt 21h, AX = 73xxh

inline constexpr DWORD CARRY_FLAG = 0x0001;

#pragma pack(push, 1)

// Media ID of DOS generic IOCTL 0866h. Label and file-system type are space-padded.
struct _MID {
  WORD midInfoLevel;
  DWORD midSerialNum;
  BYTE midVolLabel[11];
  BYTE midFileSysType[8];
};
typedef _MID MID, *PMID;

// The extended BIOS parameter block: the boot sector's 53 bytes from offset 11.
struct A_BF_BPB {
  WORD A_BF_BPB_BytesPerSector;
  BYTE A_BF_BPB_SectorsPerCluster;
  WORD A_BF_BPB_ReservedSectors;
  BYTE A_BF_BPB_NumberOfFATs;
  WORD A_BF_BPB_RootEntries;
  WORD A_BF_BPB_TotalSectors;
  BYTE A_BF_BPB_MediaDescriptor;
  WORD A_BF_BPB_SectorsPerFAT;
  WORD A_BF_BPB_SectorsPerTrack;
  WORD A_BF_BPB_Heads;
  WORD A_BF_BPB_HiddenSectors;
  WORD A_BF_BPB_HiddenSectorsHigh;
  WORD A_BF_BPB_BigTotalSectors;
  WORD A_BF_BPB_BigTotalSectorsHigh;
  WORD A_BF_BPB_BigSectorsPerFat;
  WORD A_BF_BPB_BigSectorsPerFatHi;
  WORD A_BF_BPB_ExtFlags;
  WORD A_BF_BPB_FS_Version;
  WORD A_BF_BPB_RootDirStrtClus;
  WORD A_BF_BPB_RootDirStrtClusHi;
  WORD A_BF_BPB_FSInfoSec;
  WORD A_BF_BPB_BkUpBootSec;
  WORD A_BF_BPB_Reserved[6];
};

// Device parameters of DOS generic IOCTL 4860h, the FAT32 form.
struct EA_DEVICEPARAMETERS {
  BYTE bSpecFunc;
  BYTE bDevType;
  WORD wDevAttr;
  WORD dCylinders;
  BYTE bMediaType;
  A_BF_BPB stdBpb;
  BYTE reserved[32];
};

#pragma pack(pop)

static_assert(sizeof(_MID) == 25);
static_assert(offsetof(_MID, midSerialNum) == 2 && offsetof(_MID, midVolLabel) == 6 &&
              offsetof(_MID, midFileSysType) == 17);
// Each field lies at its boot-sector offset less 11.
static_assert(sizeof(A_BF_BPB) == 53);
static_assert(offsetof(A_BF_BPB, A_BF_BPB_TotalSectors) == 19 - 11 &&
              offsetof(A_BF_BPB, A_BF_BPB_HiddenSectors) == 28 - 11 &&
              offsetof(A_BF_BPB, A_BF_BPB_BigTotalSectors) == 32 - 11 &&
              offsetof(A_BF_BPB, A_BF_BPB_BigSectorsPerFat) == 36 - 11 &&
              offsetof(A_BF_BPB, A_BF_BPB_RootDirStrtClus) == 44 - 11 &&
              offsetof(A_BF_BPB, A_BF_BPB_Reserved) == 52 - 11);
static_assert(sizeof(EA_DEVICEPARAMETERS) == 92);
static_assert(offsetof(EA_DEVICEPARAMETERS, dCylinders) == 4 &&
              offsetof(EA_DEVICEPARAMETERS, bMediaType) == 6 &&
              offsetof(EA_DEVICEPARAMETERS, stdBpb) == 7 &&
              offsetof(EA_DEVICEPARAMETERS, reserved) == 60);

KESTRO_VWIN32_NAMESPACE_END

#ifdef _WIN32
namespace win32 {
using ::_MID;
using ::A_BF_BPB;
using ::EA_DEVICEPARAMETERS;
}  // namespace win32
#endif

#undef KESTRO_VWIN32_NAMESPACE_BEGIN
#undef KESTRO_VWIN32_NAMESPACE_END
