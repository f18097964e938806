#include "volume/volume.h"

#include <shadrel/snapshots.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <set>

#include <win32/backend.h>
#include <win32/drive_map.h>

#include "support/caller_path.h"
#include "support/errors.h"
#include "support/sizes.h"
#include "volume/boot_params.h"
#include "volume/sector.h"
#include "volume/storage_kind.h"

namespace kestro::cli {

using namespace win32;

namespace {

std::string LetterName(char letter) {
  return std::string(1, letter) + ":";
}

std::string PathName(const VolumeArgs& args) {
  if (args.partition == 0) return args.volume;
  return args.volume + " partition " + std::to_string(args.partition);
}

// Why no snapshot was made, among the library's diagnostic lines (which --verbose shows): the
// requester itself keeps them off the host's standard output.
void DiagnoseMissingSnapshot(char letter) {
  const std::string reason = shadrel::LastSnapshotFailure();
  if (reason.empty()) return;
  win32::CurrentBackend().WriteStandardOutput("Snapshot of " + LetterName(letter) +
                                              " not made: " + reason + "\r\n");
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ignored;
  const auto absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.string();
}

}  // namespace

char DriveLetterOf(const std::string& text) {
  const bool rooted = text.size() == 3 && (text[2] == '\\' || text[2] == '/');
  if ((text.size() != 2 && !rooted) || text[1] != ':') return 0;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

char FreeDriveLetter() {
  std::set<char> taken;
  for (const DriveMapping& mapping : MappedDrives()) taken.insert(mapping.letter);
  for (char letter = 'Z'; letter >= 'C'; --letter) {
    if (!taken.count(letter)) return letter;
  }
  return 0;
}

ScopedDriveMapping::ScopedDriveMapping(char letter, const std::string& path, unsigned partition)
    : letter_(letter) {
  for (const DriveMapping& mapping : MappedDrives()) {
    if (mapping.letter == letter) previous_ = mapping;
  }
  MapDrive(letter, path, partition);
}

ScopedDriveMapping::~ScopedDriveMapping() {
  if (previous_) {
    MapDrive(letter_, previous_->path, previous_->partition);
  } else {
    UnmapDrive(letter_);
  }
}

Volume::HeldSource::~HeldSource() {
  if (fd >= 0) close(fd);
}

Volume::Volume(const VolumeArgs& args, const OpenOptions& options) {
  const char named = DriveLetterOf(args.volume);
  if (named != 0) {
    if (args.partition != 0) {
      throw UsageError(args.volume,
                       "--partition selects a partition of a device or image path, "
                       "not of a drive letter");
    }
    name_ = LetterName(named);
    for (const DriveMapping& mapping : MappedDrives()) {
      if (mapping.letter != named) continue;
      source_ = mapping.path;
      partition_ = mapping.partition;
    }
    if (source_.empty()) {
      throw Failure(name_, std::string("not mapped (map it with KESTRO_DRIVE_") + named +
                               "=PATH, or name a device or image file)");
    }
  } else {
    name_ = PathName(args);
    source_ = AbsolutePath(args.volume);
    partition_ = args.partition;
  }
  // A drive's mapping is a path like any other: opened once, under the caller's link rules.
  held_.fd = OpenAsCaller(source_, O_PATH);
  if (held_.fd < 0) throw Failure(name_, "cannot open: " + DescribeErrno(errno));
  // A named letter is mapped over, so that no mapping names the file any more: the disk the
  // volume lies on is numbered from the mappings, and would otherwise be opened by that name.
  letter_ = named != 0 ? named : FreeDriveLetter();
  if (letter_ == 0) throw Failure(name_, "no free drive letter to map it to");
  // Every later open, a snapshot engine's included, reaches the file opened here.
  access_ = DescriptorPath(held_.fd);
  mapping_ = std::make_unique<ScopedDriveMapping>(letter_, access_, partition_);

  RequireStorage(access_, name_);
  SetLastError(ERROR_SUCCESS);
  object_ = std::make_unique<CKestro32>(static_cast<unsigned>(letter_ - 'A' + 1),
                                        options.snapshot ? 1 : 0);
  const DWORD openError = GetLastError();
  if (options.snapshot && !object_->m_bVssActive) DiagnoseMissingSnapshot(letter_);
  if (!object_->m_bReady) ExplainOpenFailure(openError);
  object_->Initial(static_cast<DWORD>(options.bufferSize));
  if (!object_->m_bReady || object_->m_pBuffer == nullptr) {
    throw Failure(name_, "cannot allocate a " + FormatBytes(options.bufferSize) + " buffer");
  }
  if (options.snapshot && !object_->m_bVssActive) {
    const std::string why = "no snapshot could be made (" + shadrel::LastSnapshotFailure() + ")";
    if (options.snapshotRequired) throw Failure(name_, why);
    Warn(name_, why + "; reading the live volume");
  }
}

// A snapshot that could not be removed stays on the machine until a reap: the user must know,
// whether or not --verbose is given.
Volume::~Volume() {
  const std::string earlier = shadrel::LastReleaseFailure();
  object_.reset();
  mapping_.reset();
  if (const std::string kept = shadrel::LastReleaseFailure(); kept != earlier) Warn(name_, kept);
}

// Opens \\.\X: for the volume's letter, to ask the volume device itself.
HANDLE Volume::OpenVolumeDevice() const {
  WCHAR device[16];
  swprintf(device, 16, WTEXT("\\\\.\\%c:"), static_cast<WCHAR>(letter_));
  return CreateFileW(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

void Volume::ExplainOpenFailure(DWORD lastError) const {
  // Whether the device opens at all tells a missing volume from one that is not a volume.
  const HANDLE probe = OpenVolumeDevice();
  if (probe == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && partition_ != 0) {
      throw Failure(name_, "no such partition in " + source_);
    }
    throw Failure(name_, "cannot open: " + DescribeError(error));
  }
  CloseHandle(probe);
  // It opens for reading: the library's read-write open was what the system refused.
  if (lastError == ERROR_ACCESS_DENIED) {
    throw Failure(name_, "cannot open for writing: " + DescribeError(lastError));
  }
  if (object_->m_bWin9x) {
    throw Failure(name_, "cannot open: the legacy platform family opens no volume device");
  }
  throw Failure(name_, "cannot open as a volume: " + DescribeError(lastError));
}

uint64_t Volume::partition_length() const {
  return static_cast<uint64_t>(object_->m_PartInfoEx.PartitionLength.QuadPart);
}

uint64_t Volume::claimed_size() const {
  const auto sectors = ClaimedSectors(object_->m_nFsType, object_->m_BootParams);
  // A claim too large for 64-bit bytes still reads as more than any device holds.
  return sectors ? std::min(*sectors, UINT64_MAX / kSectorSize) * kSectorSize : size();
}

std::string Volume::OversizeText() const {
  return "the file system claims more than the device holds (" + FormatBytes(claimed_size()) +
         ", the device " + FormatBytes(partition_length()) + ")";
}

uint64_t Volume::tail_bytes() const {
  const uint64_t length = partition_length();
  return length > size() ? (length - size()) / kSectorSize * kSectorSize : 0;
}

int Volume::DiskNumber() const {
  int disk = -1;
  ULONGLONG start = 0, extent = 0;
  SetLastError(ERROR_SUCCESS);
  if (object_->GetDiskNumber(disk, start, extent) && disk >= 0) return disk;
  DWORD error = LastErrorOr(ERROR_NOT_SUPPORTED);
  // A snapshot device lies on no disk of its own; the volume device says where the volume is.
  const HANDLE live = OpenVolumeDevice();
  if (live != INVALID_HANDLE_VALUE) {
    VOLUME_DISK_EXTENTS extents{};
    DWORD returned = 0;
    if (DeviceIoControl(live, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents,
                        sizeof extents, &returned, nullptr) &&
        extents.NumberOfDiskExtents == 1) {
      disk = static_cast<int>(extents.Extents[0].DiskNumber);
    } else {
      error = LastErrorOr(ERROR_NOT_SUPPORTED);
    }
    CloseHandle(live);
  }
  if (disk < 0) {
    throw Failure(name_, "cannot find the disk that holds its partition: " + DescribeError(error));
  }
  return disk;
}

std::unique_ptr<DiskRange> Volume::OpenPartitionRange(uint64_t offset, uint64_t length,
                                                      bool writable) {
  const int disk = DiskNumber();
  DWORD error = ERROR_SUCCESS;
  auto tail = DiskRange::Open(disk, object_->m_llPartOffset + offset, length, writable, &error);
  if (!tail) {
    throw Failure(name_, "cannot open its disk (\\\\.\\PHYSICALDRIVE" + std::to_string(disk) +
                             ") for the partition's tail: " + DescribeError(error));
  }
  return tail;
}

}  // namespace kestro::cli
