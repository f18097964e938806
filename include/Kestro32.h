// Kestro32: raw, byte-addressed access to one logical volume, as if it were one large file.
//
// A host constructs one CKestro32 per drive (1 = A:), checks m_bReady, calls Initial once to give
// the object its staging buffer, and then alternates SeekNT with ReadNT and WriteNT. Every
// transfer is widened to whole 512-byte sectors; partial sectors are written by
// read-modify-write, and reads that fall inside the last sectors fetched are served from memory.
#pragma once

#include <win32/windows.h>
#include <Shadrel.h>

#if defined(_WIN32)
#if defined(KESTRO32_EXPORTS)
#define KESTRO32_API __declspec(dllexport)
#else
#define KESTRO32_API __declspec(dllimport)
#endif
#else
#define KESTRO32_API __attribute__((visibility("default")))
#endif

// File-system codes held in CKestro32::m_nFsType.
inline constexpr unsigned char FSTYPE_UNKNOWN = 0;
inline constexpr unsigned char FSTYPE_FAT16 = 1;  // also any volume that calls itself "FAT"
inline constexpr unsigned char FSTYPE_FAT32 = 2;
inline constexpr unsigned char FSTYPE_NTFS = 3;
inline constexpr unsigned char FSTYPE_NTFS5 = 4;

// Status of a read that failed or delivered nothing.
inline constexpr win32::DWORD KESTRO_ERR_READ = 8202;  // 0x200A

// Result of a write that failed.
inline constexpr win32::DWORD KESTRO_WRITE_FAILED = 0xFFFFFFFFu;

class KESTRO32_API CKestro32 {
 public:
  // Lifetime (the opening constructor opens, checks, classifies and sizes the volume).
  CKestro32();
  CKestro32(unsigned int nDrive, int bUseVss);
  CKestro32(const CKestro32& other);
  CKestro32& operator=(const CKestro32& other);
  virtual ~CKestro32();

  // Staging buffer and platform family.
  void Initial(win32::DWORD dwBufferSize);
  int Is9XOSVersion();
  int VersionIsW95_40950();

  // Positioning.
  win32::LONGLONG DriveSeek(win32::HANDLE handle, win32::LONGLONG distance, win32::DWORD method);
  int SeekNT(win32::LONGLONG distance, int origin);
  int SeekW(win32::LONGLONG distance, int origin);
  int Seek2K(win32::LONGLONG distance, int origin);

  // Reading: a status (0, KESTRO_ERR_READ, or 1 when the legacy read has no staging buffer).
  win32::DWORD ReadNT(void* buf, win32::DWORD len, win32::DWORD* pRead);
  win32::DWORD ReadNT(void* buf, win32::DWORD len, win32::DWORD* pRead, void** ppData);
  win32::DWORD ReadW(void* buf, win32::DWORD len, win32::DWORD* pRead);
  win32::DWORD Read2K(void* buf, win32::DWORD len, win32::DWORD* pRead);
  win32::DWORD Read2K(void* buf, win32::DWORD len, win32::DWORD* pRead, void** ppData);

  // Writing: the bytes written, 0 when nothing is left, KESTRO_WRITE_FAILED on failure.
  win32::DWORD WriteNT(void* buf, win32::DWORD len);
  win32::DWORD WriteDataW(void* buf, win32::DWORD len);
  win32::DWORD WriteFatDataW(void* buf, win32::DWORD len);
  win32::DWORD WriteDirDataW(void* buf, win32::DWORD len);
  win32::DWORD Write2K(void* buf, win32::DWORD len);

  // Legacy sector transfer and volume control through the VWIN32 device held in m_hDisk.
  int NewReadSector(_DISKIO* io, unsigned int drive);
  int NewWriteSector(_DISKIO* io, unsigned int drive, int kind);
  int DoIOCTL(_DEVIOCTL_REGISTERS* regs);
  int LockVolume(unsigned int drive, unsigned int level);
  int UnlockVolume(unsigned int drive);
  int GetCurrentLockState(unsigned int drive);
  int GetMediaID(win32::_MID* mid, unsigned int drive);
  int GetGeometry(win32::EA_DEVICEPARAMETERS* params, unsigned int drive);

  // NT volume and disk queries.
  int GetGeometry(win32::DISK_GEOMETRY* geometry);
  int GetPartitionInfo(win32::PARTITION_INFORMATION* info);
  int GetPartitionInfoEx(win32::PARTITION_INFORMATION_EX* info);
  int SetPartitionInfo(win32::SET_PARTITION_INFORMATION* info);
  int LockNTVolume();
  int UnlockNTVolume();
  int GetDiskInfo();
  int GetDiskNumber(int& diskNumber, win32::ULONGLONG& startingOffset,
                    win32::ULONGLONG& extentLength);
  int GetDriveLayout(int diskNumber, win32::DRIVE_LAYOUT_INFORMATION_EX** layout);
  int GetPartitionInfo3();

  // Free space, with a fallback for systems without the extended query.
  int MyGetDiskFreeSpaceEx(const win32::WCHAR* rootPath, win32::ULONGLONG* totalBytes,
                           win32::ULONGLONG* freeBytes);

  // Snapshot session.
  int StartVss(win32::WCHAR* rootPath);
  void EndVss();

  // Public state, in this order and with these widths; hosts read it directly.
  unsigned int m_nDrive = 0;
  win32::BYTE m_Reserved[25] = {};
  win32::PARTITION_INFORMATION_EX m_PartInfoEx = {};
  win32::PARTITION_INFORMATION m_PartInfo = {};
  win32::BYTE m_BootParams[73] = {};
  int m_bReady = 0;
  win32::BYTE m_nFsType = FSTYPE_UNKNOWN;
  win32::ULONGLONG m_llPartOffset = 0;
  win32::ULONGLONG m_llTotalSectors = 0;
  win32::ULONGLONG m_llFreeBytes = 0;
  win32::ULONGLONG m_llVolumeSize = 0;
  win32::ULONGLONG m_llUsedBytes = 0;
  int m_bUseVss = 0;
  int m_bVssActive = 0;
  win32::ULONGLONG m_llPos = 0;
  win32::ULONGLONG m_llSector = 0;
  int m_bWin9x = 0;
  int m_bWindowValid = 0;
  win32::ULONGLONG m_llWindowStart = 0;
  win32::ULONGLONG m_llWindowLength = 0;
  win32::ULONGLONG m_llBufferSize = 0;
  win32::HANDLE m_hDisk = nullptr;
  win32::BYTE* m_pBuffer = nullptr;
  win32::WCHAR m_szSnapshotPath[260] = {};
  CShadrel m_Requester;
};

// Moves a file pointer by a signed 64-bit distance, also where SetFilePointerEx is missing.
KESTRO32_API int MySetFilePointerEx(win32::HANDLE hFile, win32::LARGE_INTEGER liDistanceToMove,
                                    win32::LARGE_INTEGER* lpNewFilePointer,
                                    win32::DWORD dwMoveMethod);

namespace kestro {

// Makes a volume object of the legacy family (Windows 95, 98 and Me) usable: there the opening
// constructor opens no device and sizes nothing. Opens the VWIN32 device into volume.m_hDisk and
// sets m_llTotalSectors and m_llVolumeSize (m_llTotalSectors x 512) from the device parameters
// of drive m_nDrive. Returns FALSE, with the object unchanged and the last error set, when the
// object already holds a device, the device cannot be opened or the drive cannot be sized.
// m_bReady is left as the constructor set it; the object closes the device when destroyed.
KESTRO32_API win32::BOOL OpenLegacyVolume(CKestro32& volume);

}  // namespace kestro

// Sample exports of the module.
KESTRO32_API int fnKestro32();
extern KESTRO32_API int nKestro32;
