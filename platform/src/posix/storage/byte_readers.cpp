#include "storage/byte_readers.h"

#include <win32/errors.h>

#include "errno_map.h"

namespace kestro::posix {
namespace {

namespace ondisk = kestro::ondisk;

ondisk::Status Outcome(bool read) {
  if (read) return {};
  return ondisk::Error{ondisk::Fault::kReadFailed, "read failed or left the device"};
}

}  // namespace

ondisk::Status VolumeWindowReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  return Outcome(volume_.Read(offset, out, length));
}

ondisk::Status DiskReader::Read(uint64_t offset, size_t length, uint8_t* out) const {
  return Outcome(disk_.ReadAt(out, length, offset));
}

BOOL FailDiskStructure(const ondisk::Error& error) {
  switch (error.fault) {
    case ondisk::Fault::kReadFailed:
      return FALSE;
    case ondisk::Fault::kOutOfRange:
      return Fail(ERROR_SECTOR_NOT_FOUND);
    default:
      return Fail(ERROR_IO_DEVICE);
  }
}

}  // namespace kestro::posix
