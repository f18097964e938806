// The volume behind a DOS drive number, found through the drive map and opened for the length
// of one DOS call, so that a call always sees the mapping in effect when it is made.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <ondisk/fat.h>
#include <win32/types.h>

#include <win32/sector.h>

namespace kestro::posix {

using namespace win32;
using kestro::ondisk::FatBootSector;
using kestro::ondisk::kBootSectorSize;

enum class VolumeStatus {
  kOk,
  kNoDrive,         // the letter is not mapped, or what it names cannot be found
  kWriteProtected,  // the volume cannot be opened for writing
  kSectorNotFound,  // the transfer reaches past the last sector
  kReadFault,
  kWriteFault,
};

// The DOS error codes a family of calls answers each failed status with.
struct DosErrorCodes {
  WORD noDrive;
  WORD writeProtected;
  WORD sectorNotFound;
  WORD readFault;
  WORD writeFault;

  WORD For(VolumeStatus status) const;
};

class DosVolume {
 public:
  // Opens the volume mapped to `letter`; nullopt with *status set when that fails.
  static std::optional<DosVolume> Open(char letter, bool forWriting, VolumeStatus* status);

  DosVolume(DosVolume&& other) noexcept;
  DosVolume& operator=(DosVolume&&) = delete;
  ~DosVolume();

  uint64_t sectors() const { return length_ / platform::kSectorSize; }
  VolumeStatus Read(uint64_t first, uint32_t count, void* buffer) const;
  VolumeStatus Write(uint64_t first, uint32_t count, const void* buffer) const;
  // Reads sector 0 into `sector` and returns what it says as a FAT boot sector: nullopt with
  // *status kOk when it is none, nullopt with the failure when unreadable.
  std::optional<FatBootSector> BootSector(std::span<uint8_t, kBootSectorSize> sector,
                                          VolumeStatus* status) const;

 private:
  DosVolume(int fd, uint64_t offset, uint64_t length) : fd_(fd), offset_(offset), length_(length) {}
  bool InRange(uint64_t first, uint32_t count) const;

  int fd_ = -1;
  uint64_t offset_ = 0;  // start of the volume in the file or device
  uint64_t length_ = 0;
};

// The letter of DOS drive `drive` counted from 1 (1 = A:), or 0 when there is none.
char DriveLetter(unsigned drive);

// Whether drive `letter` is mapped to a volume that can be resolved now.
bool DriveExists(char letter);

}  // namespace kestro::posix
