// The disk under a volume or disk handle, opened on its own descriptor for the disk-level control
// codes: geometry, partition records, the drive layout and the partition-type change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <win32/types.h>

#include "open_object.h"
#include "storage/block_device.h"

namespace kestro::posix {

using namespace win32;

class DiskAccess {
 public:
  // Opens the disk under `object`: the handle's own disk for a disk handle, the disk the volume
  // lies on for a volume handle. nullopt with the last error set when it cannot be opened.
  static std::optional<DiskAccess> Open(const OpenObject& object, bool forWriting = false);

  DiskAccess(DiskAccess&& other) noexcept;
  DiskAccess& operator=(DiskAccess&&) = delete;
  DiskAccess(const DiskAccess&) = delete;
  ~DiskAccess();

  uint64_t size() const { return facts_.size; }
  uint32_t sectorSize() const { return facts_.logicalSectorSize; }
  const DeviceFacts& facts() const { return facts_; }
  int fd() const { return fd_; }

  // Reads exactly `length` bytes at `offset`; false with the last error set: ERROR_SECTOR_NOT_FOUND
  // for a transfer past the disk's end, the device's own error otherwise.
  bool ReadAt(void* buffer, size_t length, uint64_t offset) const;
  // Writes exactly `length` bytes at `offset` and flushes them to the disk; fails as ReadAt does.
  bool WriteAt(const void* buffer, size_t length, uint64_t offset) const;

 private:
  DiskAccess(int fd, DeviceFacts facts) : fd_(fd), facts_(std::move(facts)) {}

  int fd_ = -1;
  DeviceFacts facts_;
};

}  // namespace kestro::posix
