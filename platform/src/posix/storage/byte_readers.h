// The on-disk parsers' view of a volume window or a disk: their bounds-checked reads, as a
// ByteReader.
#pragma once

#include <ondisk/byte_reader.h>

#include "storage/disk_access.h"
#include "storage/volume_window.h"

namespace kestro::posix {

class VolumeWindowReader final : public kestro::ondisk::ByteReader {
 public:
  explicit VolumeWindowReader(const VolumeWindow& volume) : volume_(volume) {}

  kestro::ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return volume_.length(); }

 private:
  const VolumeWindow& volume_;
};

class DiskReader final : public kestro::ondisk::ByteReader {
 public:
  explicit DiskReader(const DiskAccess& disk) : disk_(disk) {}

  kestro::ondisk::Status Read(uint64_t offset, size_t length, uint8_t* out) const override;
  uint64_t Size() const override { return disk_.size(); }

 private:
  const DiskAccess& disk_;
};

// Sets the last error for a structure the parsers could not read from a disk through DiskReader:
// the disk's own error for a failed read, ERROR_SECTOR_NOT_FOUND for one that reaches past the
// disk's end, ERROR_IO_DEVICE for a damaged structure. Returns FALSE.
BOOL FailDiskStructure(const kestro::ondisk::Error& error);

}  // namespace kestro::posix
