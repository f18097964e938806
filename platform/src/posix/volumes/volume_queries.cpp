#include "volumes/volume_queries.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <string>

#include <ondisk/little_endian.h>
#include <win32/errors.h>
#include <win32/utf.h>

#include "errno_map.h"
#include "handles/device_name.h"
#include <win32/sector.h>
#include "storage/block_device.h"
#include "storage/drive_map.h"
#include "storage/mount_table.h"
#include "storage/volume_window.h"
#include "volumes/allocated_space.h"
#include "volumes/file_system_probe.h"

namespace kestro::posix {
namespace {

using kestro::ondisk::LittleEndian32;

constexpr DWORD kMaxComponentLength = 255;

// File-system flags, with Windows' values.
constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x00000001;
constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x00000002;
constexpr DWORD FILE_UNICODE_ON_DISK = 0x00000004;
constexpr DWORD FILE_PERSISTENT_ACLS = 0x00000008;
constexpr DWORD FILE_FILE_COMPRESSION = 0x00000010;
constexpr DWORD FILE_VOLUME_QUOTAS = 0x00000020;
constexpr DWORD FILE_SUPPORTS_SPARSE_FILES = 0x00000040;
constexpr DWORD FILE_SUPPORTS_REPARSE_POINTS = 0x00000080;
constexpr DWORD FILE_SUPPORTS_OBJECT_IDS = 0x00010000;
constexpr DWORD FILE_SUPPORTS_ENCRYPTION = 0x00020000;
constexpr DWORD FILE_NAMED_STREAMS = 0x00040000;
constexpr DWORD FILE_SUPPORTS_TRANSACTIONS = 0x00200000;
constexpr DWORD FILE_SUPPORTS_HARD_LINKS = 0x00400000;
constexpr DWORD FILE_SUPPORTS_EXTENDED_ATTRIBUTES = 0x00800000;
constexpr DWORD FILE_SUPPORTS_OPEN_BY_FILE_ID = 0x01000000;
constexpr DWORD FILE_SUPPORTS_USN_JOURNAL = 0x02000000;

constexpr DWORD kFatFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
constexpr DWORD kNtfsFlags =
    FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
    FILE_PERSISTENT_ACLS | FILE_FILE_COMPRESSION | FILE_VOLUME_QUOTAS | FILE_SUPPORTS_SPARSE_FILES |
    FILE_SUPPORTS_REPARSE_POINTS | FILE_SUPPORTS_OBJECT_IDS | FILE_SUPPORTS_ENCRYPTION |
    FILE_NAMED_STREAMS | FILE_SUPPORTS_TRANSACTIONS | FILE_SUPPORTS_HARD_LINKS |
    FILE_SUPPORTS_EXTENDED_ATTRIBUTES | FILE_SUPPORTS_OPEN_BY_FILE_ID | FILE_SUPPORTS_USN_JOURNAL;

struct FileSystemTraits {
  const char16_t* name;
  DWORD flags;
};

// What Windows says of the file systems it reads; nothing for those it cannot.
std::optional<FileSystemTraits> TraitsOf(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::kFat:
      return FileSystemTraits{u"FAT", kFatFlags};
    case FileSystemKind::kFat32:
      return FileSystemTraits{u"FAT32", kFatFlags};
    case FileSystemKind::kNtfs:
      return FileSystemTraits{u"NTFS", kNtfsFlags};
    case FileSystemKind::kExfat:
      return FileSystemTraits{u"exFAT", kFatFlags};
    case FileSystemKind::kNone:
    case FileSystemKind::kOther:
      break;
  }
  return std::nullopt;
}

// The serial number each file system keeps in its boot sector (NTFS: the low half of 64 bits).
DWORD SerialOf(FileSystemKind kind, const uint8_t* boot) {
  constexpr uint8_t kExtendedBootSignature = 0x29, kShortBootSignature = 0x28;
  switch (kind) {
    case FileSystemKind::kFat:
    case FileSystemKind::kFat32: {
      const size_t signature = kind == FileSystemKind::kFat32 ? 66 : 38;
      const bool present =
          boot[signature] == kExtendedBootSignature || boot[signature] == kShortBootSignature;
      return present ? LittleEndian32(boot + signature + 1) : 0;
    }
    case FileSystemKind::kNtfs:
      return LittleEndian32(boot + 72);
    case FileSystemKind::kExfat:
      return LittleEndian32(boot + 100);
    default:
      return 0;
  }
}

std::optional<VolumeTarget> ResolveRoot(LPCWSTR root) {
  DWORD error = ERROR_SUCCESS;
  const char letter = ParseRootPath(root);
  auto target = letter != 0 ? ResolveVolume(letter, &error) : std::nullopt;
  if (!target) Fail(ERROR_PATH_NOT_FOUND);
  return target;
}

std::optional<VolumeWindow> OpenWindow(const VolumeTarget& target) {
  auto window = VolumeWindow::Open(target);
  if (!window) FailFromErrno();
  return window;
}

// Whether `buffer` holds `text` and its terminator; a null buffer asks for nothing.
bool FitsIn(const std::u16string& text, DWORD capacity, LPWSTR buffer) {
  return buffer == nullptr || text.size() < capacity;
}

void CopyOut(const std::u16string& text, LPWSTR buffer) {
  if (buffer == nullptr) return;
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
}

std::optional<VolumeSpace> MountedSpace(const VolumeTarget& target) {
  const auto mountPoint =
      FindMountPoint(Narrow(PlacesOfPath(target.path), target.offset, target.length));
  struct statvfs stats {};
  if (!mountPoint || statvfs(mountPoint->c_str(), &stats) != 0) return std::nullopt;
  return VolumeSpace{uint64_t{stats.f_blocks} * stats.f_frsize,
                     uint64_t{stats.f_bfree} * stats.f_frsize,
                     static_cast<uint32_t>(stats.f_frsize)};
}

std::optional<VolumeSpace> UnmountedSpace(const VolumeWindow& window) {
  switch (IdentifyFileSystem(window).kind) {
    case FileSystemKind::kFat:
    case FileSystemKind::kFat32:
      return CountFatSpace(window);
    case FileSystemKind::kNtfs:
      return CountNtfsSpace(window);
    default:
      return std::nullopt;
  }
}

}  // namespace

BOOL QueryVolumeInformation(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                            LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystemName,
                            DWORD fileSystemNameSize) {
  const auto target = ResolveRoot(root);
  if (!target) return FALSE;
  const auto window = OpenWindow(*target);
  if (!window) return FALSE;
  const FileSystemIdentity identity = IdentifyFileSystem(*window);
  const auto traits = TraitsOf(identity.kind);
  uint8_t boot[platform::kSectorSize];
  if (!traits || !window->Read(0, boot, sizeof boot)) return Fail(ERROR_UNRECOGNIZED_VOLUME);
  const std::u16string label = FromUtf8(identity.label);
  const std::u16string name = traits->name;
  if (!FitsIn(label, volumeNameSize, volumeName) ||
      !FitsIn(name, fileSystemNameSize, fileSystemName)) {
    return Fail(ERROR_BAD_LENGTH);
  }
  CopyOut(label, volumeName);
  CopyOut(name, fileSystemName);
  if (serial) *serial = SerialOf(identity.kind, boot);
  if (maxComponent) *maxComponent = kMaxComponentLength;
  if (flags) *flags = traits->flags;
  return TRUE;
}

BOOL QueryFreeSpace(LPCWSTR root, VolumeSpace* space) {
  const auto target = ResolveRoot(root);
  if (!target) return FALSE;
  auto counted = MountedSpace(*target);
  if (!counted) {
    const auto window = OpenWindow(*target);
    if (!window) return FALSE;
    counted = UnmountedSpace(*window);
  }
  // A volume whose allocation cannot be read counts as full: a backup then copies all of it.
  *space = counted.value_or(VolumeSpace{target->length, 0, platform::kSectorSize});
  const auto device = ExamineDevice(target->path);
  if (device) space->sectorBytes = device->logicalSectorSize;
  return TRUE;
}

}  // namespace kestro::posix
