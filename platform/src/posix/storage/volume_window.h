// A volume's bytes, read-only and bounds-checked: the window of a file or block device that a
// drive letter maps to, opened for the volume queries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <win32/sector.h>
#include "storage/drive_map.h"

namespace kestro::posix {

using namespace win32;

// What the free-space queries report.
struct VolumeSpace {
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
  uint32_t clusterBytes = 0;
  uint32_t sectorBytes = platform::kSectorSize;
};

class VolumeWindow {
 public:
  // Opens `volume`; nullopt with errno set when it cannot be opened.
  static std::optional<VolumeWindow> Open(const VolumeTarget& volume);

  VolumeWindow(VolumeWindow&& other) noexcept;
  VolumeWindow& operator=(VolumeWindow&&) = delete;
  VolumeWindow(const VolumeWindow&) = delete;
  ~VolumeWindow();

  int fd() const { return fd_; }
  uint64_t base() const { return base_; }
  uint64_t length() const { return length_; }

  // Reads exactly `length` bytes at `offset` of the volume; false when the range leaves the
  // volume or the read comes up short.
  bool Read(uint64_t offset, void* buffer, size_t length) const;

 private:
  VolumeWindow(int fd, uint64_t base, uint64_t length) : fd_(fd), base_(base), length_(length) {}

  int fd_ = -1;
  uint64_t base_ = 0;
  uint64_t length_ = 0;
};

}  // namespace kestro::posix
