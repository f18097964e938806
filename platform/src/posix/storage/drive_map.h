// Resolution of drive letters and disk numbers to the files and devices behind them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

struct DiskTarget {
  std::string path;  // disk image or whole-disk block device
  int number = -1;   // n of \\.\PHYSICALDRIVEn
};

// A volume is a byte window of a file or block device.
struct VolumeTarget {
  char letter = 0;
  std::string path;              // what is opened for transfers
  uint64_t offset = 0;           // start of the window in `path`
  uint64_t length = 0;           // bytes in the window
  DiskTarget disk;               // the disk the volume lies on
  uint64_t diskOffset = 0;       // start of the volume on that disk
  unsigned partitionNumber = 0;  // 0 when the volume is a whole disk or a bare volume image
};

// Resolves drive `letter` (A-Z, either case). On failure sets *error to ERROR_FILE_NOT_FOUND for
// an unmapped letter or a missing partition, or to the error the file system gave.
std::optional<VolumeTarget> ResolveVolume(char letter, DWORD* error);

// ResolveVolume without the disk's number (disk.number stays -1), which costs a look at every
// mapped drive; for callers that only move the volume's bytes.
std::optional<VolumeTarget> LocateVolume(char letter, DWORD* error);

// Resolves disk `number`, mapped explicitly or numbered automatically.
std::optional<DiskTarget> ResolveDisk(int number, DWORD* error);

}  // namespace kestro::posix
