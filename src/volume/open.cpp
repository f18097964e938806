// Opening a volume: measure it, open its device, check, classify and size it, then reopen the
// device for the transfers, directly or through a snapshot.
#include <Kestro32.h>

#include <cstring>

#include "volume/sector.h"
#include "volume/version.h"

using namespace win32;
using kestro::kSectorSize;

namespace {

constexpr size_t kNameLength = 16;
constexpr DWORD kNameBufferLength = MAX_PATH;

// Boot-sector offsets of the sector size and counts, as offsets into m_BootParams (sector byte 11
// on).
constexpr size_t kBytesPerSector = 11 - 11;
constexpr size_t kSmallSectorCount = 19 - 11;  // 16-bit count of small FAT12/FAT16 volumes
constexpr size_t kLargeSectorCount = 32 - 11;  // 32-bit count of FAT volumes
constexpr size_t kNtfsSectorCount = 40 - 11;   // 64-bit count of NTFS volumes

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

WCHAR UpperLetter(unsigned drive) {
  return static_cast<WCHAR>(drive + 0x40);
}
WCHAR LowerLetter(unsigned drive) {
  return static_cast<WCHAR>(drive + 0x60);
}

void FormRootPath(WCHAR (&root)[kNameLength], WCHAR letter) {
  swprintf(root, kNameLength, WTEXT("%c:\\"), letter);
}

HANDLE OpenDevicePath(unsigned drive) {
  WCHAR device[kNameLength];
  swprintf(device, kNameLength, WTEXT("\\\\.\\%c:"), UpperLetter(drive));
  return CreateFileW(device, kAccess, kSharing, nullptr, OPEN_EXISTING, 0, nullptr);
}

ULONGLONG LittleEndian(const BYTE* bytes, size_t width) {
  ULONGLONG value = 0;
  for (size_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

BYTE ClassifyFileSystem(const WCHAR* name) {
  static const struct {
    const WCHAR* name;
    BYTE code;
  } kTable[] = {
      {WTEXT("NTFS"), FSTYPE_NTFS},   {WTEXT("FAT32"), FSTYPE_FAT32},
      {WTEXT("FAT16"), FSTYPE_FAT16}, {WTEXT("NTFS5"), FSTYPE_NTFS5},
      {WTEXT("FAT"), FSTYPE_FAT16},
  };
  for (const auto& entry : kTable) {
    if (_wcsicmp(name, entry.name) == 0) return entry.code;
  }
  return FSTYPE_UNKNOWN;
}

// The library's 512-byte sectors in one sector of the file system: a count in 4096-byte sectors
// sizes the volume eight times over. Sizes no file system is formatted with count as 512.
ULONGLONG SectorsPerFileSystemSector(const CKestro32& volume) {
  const ULONGLONG bytes = LittleEndian(volume.m_BootParams + kBytesPerSector, 2);
  return bytes == 1024 || bytes == 2048 || bytes == 4096 ? bytes / kSectorSize : 1;
}

// The boot sector's count in the file system's own sectors.
ULONGLONG FileSystemSectors(const CKestro32& volume) {
  if (volume.m_nFsType == FSTYPE_NTFS) {
    return LittleEndian(volume.m_BootParams + kNtfsSectorCount, 8);
  }
  // Small FAT12 and FAT16 volumes keep their count in the 16-bit field and 0 in the 32-bit one.
  const ULONGLONG large = LittleEndian(volume.m_BootParams + kLargeSectorCount, 4);
  return large != 0 ? large : LittleEndian(volume.m_BootParams + kSmallSectorCount, 2);
}

ULONGLONG TotalSectors(const CKestro32& volume) {
  switch (volume.m_nFsType) {
    case FSTYPE_NTFS:
    case FSTYPE_FAT32:
    case FSTYPE_FAT16: {
      const ULONGLONG scale = SectorsPerFileSystemSector(volume);
      const ULONGLONG sectors = FileSystemSectors(volume);
      // A claim beyond 64 bits still reads as more than any partition holds.
      return sectors > ~0ULL / scale ? ~0ULL : sectors * scale;
    }
    default: {
      // One sector less than the partition holds, and never below zero.
      const ULONGLONG sectors =
          static_cast<ULONGLONG>(volume.m_PartInfoEx.PartitionLength.QuadPart) / kSectorSize;
      return sectors > 0 ? sectors - 1 : 0;
    }
  }
}

// The boot sector's claim, cut to what the partition holds: positions past the device would
// only fail; m_BootParams keeps the claim itself.
ULONGLONG AddressableSectors(const CKestro32& volume) {
  const ULONGLONG claimed = TotalSectors(volume);
  const ULONGLONG held =
      static_cast<ULONGLONG>(volume.m_PartInfoEx.PartitionLength.QuadPart) / kSectorSize;
  return claimed < held ? claimed : held;
}

void ClassifyVolume(CKestro32& volume, const WCHAR* root) {
  WCHAR volumeName[kNameBufferLength] = {};
  WCHAR fileSystemName[kNameBufferLength] = {};
  DWORD serial = 0, maxComponent = 0, flags = 0;
  GetVolumeInformationW(root, volumeName, kNameBufferLength, &serial, &maxComponent, &flags,
                        fileSystemName, kNameBufferLength);
  volume.m_nFsType = ClassifyFileSystem(fileSystemName);
}

void ConvertPartitionInfo(CKestro32& volume) {
  PARTITION_INFORMATION_EX& ex = volume.m_PartInfoEx;
  const PARTITION_INFORMATION& old = volume.m_PartInfo;
  ex.StartingOffset = old.StartingOffset;
  ex.PartitionLength = old.PartitionLength;
  ex.PartitionNumber = old.PartitionNumber;
  ex.RewritePartition = old.RewritePartition;
  ex.PartitionStyle = PARTITION_STYLE_MBR;
  ex.Mbr.PartitionType = old.PartitionType;
  ex.Mbr.BootIndicator = old.BootIndicator;
  ex.Mbr.RecognizedPartition = old.RecognizedPartition;
  ex.Mbr.HiddenSectors = old.HiddenSectors;
}

// The newer partition query, then the older one, then the disk extent and layout.
bool LocatePartition(CKestro32& volume) {
  wprintf(WTEXT("Before GetPartitionInfoEx\r\n"));
  if (volume.GetPartitionInfoEx(&volume.m_PartInfoEx)) return true;
  wprintf(WTEXT("Before GetPartitionInfo\r\n"));
  if (volume.GetPartitionInfo(&volume.m_PartInfo)) {
    ConvertPartitionInfo(volume);
    return true;
  }
  wprintf(WTEXT("GetPartitionInfo failed(%d)\r\n"), GetLastError());
  if (volume.GetPartitionInfo3()) return true;
  wprintf(WTEXT("GetPartitionInfo3 failed(%d)\r\n"), GetLastError());
  return false;
}

// Checks, classifies and sizes the volume open on m_hDisk, leaving the outcome in m_bReady.
void MeasureVolume(CKestro32& volume, const WCHAR* root) {
  DISK_GEOMETRY geometry;
  if (!volume.GetGeometry(&geometry)) {
    volume.m_bReady = 0;
    return;
  }
  volume.m_bReady = 1;
  ClassifyVolume(volume, root);
  if (!LocatePartition(volume)) {
    volume.m_bReady = 0;
    return;
  }
  volume.m_llPartOffset = static_cast<ULONGLONG>(volume.m_PartInfoEx.StartingOffset.QuadPart);
  if (!volume.GetDiskInfo()) {
    volume.m_bReady = 0;
    return;
  }
  volume.m_llTotalSectors = AddressableSectors(volume);
  volume.m_llVolumeSize = volume.m_llTotalSectors * kSectorSize;
}

// Closes the measuring handle and opens the one the transfers use: the snapshot device when a
// snapshot session starts, the volume device otherwise.
void ReopenForTransfers(CKestro32& volume) {
  if (volume.m_hDisk == INVALID_HANDLE_VALUE) return;
  CloseHandle(volume.m_hDisk);
  volume.m_hDisk = INVALID_HANDLE_VALUE;
  WCHAR root[kNameLength];
  FormRootPath(root, UpperLetter(volume.m_nDrive));
  if (volume.StartVss(root)) {
    volume.m_hDisk = CreateFileW(volume.m_szSnapshotPath, kAccess, kSharing, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_NO_BUFFERING, nullptr);
  } else {
    volume.m_hDisk = OpenDevicePath(volume.m_nDrive);
  }
  if (volume.m_hDisk == INVALID_HANDLE_VALUE) volume.m_bReady = 0;
}

}  // namespace

CKestro32::CKestro32(unsigned int nDrive, int bUseVss) {
  kestro::RefillVersionRecord();
  m_nDrive = nDrive;
  m_bReady = 0;
  m_bWindowValid = 0;
  m_bWin9x = Is9XOSVersion();
  m_llBufferSize = 0;
  m_llPos = 0;
  m_llSector = 0;
  m_hDisk = INVALID_HANDLE_VALUE;
  m_pBuffer = nullptr;
  m_bUseVss = bUseVss;
  m_bVssActive = 0;

  const DWORD platform = g_osvi.dwPlatformId;
  if (platform != VER_PLATFORM_WIN32_NT && platform != VER_PLATFORM_WIN32_WINDOWS) return;
  WCHAR root[kNameLength];
  FormRootPath(root, platform == VER_PLATFORM_WIN32_NT ? UpperLetter(nDrive) : LowerLetter(nDrive));
  ULONGLONG totalBytes = 0, freeBytes = 0;
  if (!MyGetDiskFreeSpaceEx(root, &totalBytes, &freeBytes)) return;
  m_llFreeBytes = freeBytes;
  m_llUsedBytes = totalBytes - freeBytes;
  if (platform != VER_PLATFORM_WIN32_NT) return;

  m_hDisk = OpenDevicePath(nDrive);
  if (m_hDisk == INVALID_HANDLE_VALUE) return;
  try {
    MeasureVolume(*this, root);
  } catch (...) {
    // Only the allocator can throw here; the measuring handle must not outlive the object.
    CloseHandle(m_hDisk);
    throw;
  }
  ReopenForTransfers(*this);
}
