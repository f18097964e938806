#include "vwin32/dos_volume.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "read_ahead.h"
#include "storage/drive_map.h"
#include "storage/volume_safety.h"

namespace kestro::posix {
namespace {

constexpr unsigned kLastDrive = 26;  // Z:

// Moves all `size` bytes at `offset`, going on after interrupted or partial transfers.
template <typename Transfer>
bool TransferAll(uint64_t offset, size_t size, Transfer transfer) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = transfer(done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

VolumeStatus OpenFailure(int error, bool forWriting) {
  if (error == ENOENT || error == ENOTDIR) return VolumeStatus::kNoDrive;
  if (forWriting && (error == EACCES || error == EROFS || error == EPERM)) {
    return VolumeStatus::kWriteProtected;
  }
  return forWriting ? VolumeStatus::kWriteFault : VolumeStatus::kReadFault;
}

}  // namespace

WORD DosErrorCodes::For(VolumeStatus status) const {
  switch (status) {
    case VolumeStatus::kNoDrive:
      return noDrive;
    case VolumeStatus::kWriteProtected:
      return writeProtected;
    case VolumeStatus::kSectorNotFound:
      return sectorNotFound;
    case VolumeStatus::kReadFault:
      return readFault;
    case VolumeStatus::kWriteFault:
    case VolumeStatus::kOk:
      break;
  }
  return writeFault;
}

std::optional<DosVolume> DosVolume::Open(char letter, bool forWriting, VolumeStatus* status) {
  DWORD error = 0;
  auto target = LocateVolume(letter, &error);
  if (!target) {
    *status = VolumeStatus::kNoDrive;
    return std::nullopt;
  }
  const int fd = open(target->path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    *status = OpenFailure(errno, forWriting);
    return std::nullopt;
  }
  *status = VolumeStatus::kOk;
  return DosVolume(fd, target->offset, target->length);
}

DosVolume::DosVolume(DosVolume&& other) noexcept
    : fd_(other.fd_), offset_(other.offset_), length_(other.length_) {
  other.fd_ = -1;
}

DosVolume::~DosVolume() {
  if (fd_ >= 0) close(fd_);
}

bool DosVolume::InRange(uint64_t first, uint32_t count) const {
  return first <= sectors() && count <= sectors() - first;
}

VolumeStatus DosVolume::Read(uint64_t first, uint32_t count, void* buffer) const {
  if (!InRange(first, count)) return VolumeStatus::kSectorNotFound;
  char* bytes = static_cast<char*>(buffer);
  const bool done = TransferAll(
      offset_ + first * platform::kSectorSize, size_t{count} * platform::kSectorSize,
      [&](size_t at, size_t size, off_t offset) { return pread(fd_, bytes + at, size, offset); });
  return done ? VolumeStatus::kOk : VolumeStatus::kReadFault;
}

VolumeStatus DosVolume::Write(uint64_t first, uint32_t count, const void* buffer) const {
  if (!InRange(first, count)) return VolumeStatus::kSectorNotFound;
  const uint64_t offset = offset_ + first * platform::kSectorSize;
  const size_t length = size_t{count} * platform::kSectorSize;
  // DOS has no answer for bytes the system is using; a write-protected disk is the nearest.
  if (!DescriptorWriteAllowed(fd_, offset, length)) return VolumeStatus::kWriteProtected;
  const char* bytes = static_cast<const char*>(buffer);
  const bool done = TransferAll(offset, length, [&](size_t at, size_t size, off_t position) {
    return pwrite(fd_, bytes + at, size, position);
  });
  NoteWrite();
  return done ? VolumeStatus::kOk : VolumeStatus::kWriteFault;
}

std::optional<FatBootSector> DosVolume::BootSector(std::span<uint8_t, kBootSectorSize> sector,
                                                   VolumeStatus* status) const {
  *status = VolumeStatus::kOk;
  if (sectors() == 0) return std::nullopt;
  *status = Read(0, 1, sector.data());
  if (*status != VolumeStatus::kOk || !kestro::ondisk::HasBootSignature(sector)) {
    return std::nullopt;
  }
  const auto boot = kestro::ondisk::ParseFatBootSector(sector);
  if (!boot) return std::nullopt;
  return *boot;
}

char DriveLetter(unsigned drive) {
  return drive >= 1 && drive <= kLastDrive ? static_cast<char>('A' + (drive - 1)) : '\0';
}

bool DriveExists(char letter) {
  DWORD error = 0;
  return letter != 0 && LocateVolume(letter, &error).has_value();
}

}  // namespace kestro::posix
