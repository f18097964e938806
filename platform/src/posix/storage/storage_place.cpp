#include "storage/storage_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

#include "storage/block_device.h"
#include "storage/loop_device.h"
#include <win32/sector.h>

namespace kestro::posix {
namespace {

constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();
// Loop devices over partitions of loop devices are followed this deep at most.
constexpr int kMaxStacking = 8;

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? kNoEnd : sum;
}

void AddStatPlaces(const struct stat& st, const std::string& file, uint64_t start, uint64_t end,
                   int depth, std::vector<StoragePlace>& places);

// A range of `sysfs`'s device ends with the device at the latest.
uint64_t BoundedEnd(const std::string& sysfs, uint64_t end) {
  const auto sectors = ReadSysfsNumber(sysfs + "/size");
  return sectors ? std::min(end, *sectors * platform::kSectorSize) : end;
}

// A partition's bytes lie on its parent disk; a whole disk is a place itself and, when it is a
// loop device, also a range of its backing file.
void AddDevicePlaces(dev_t device, uint64_t start, uint64_t end, int depth,
                     std::vector<StoragePlace>& places) {
  const std::string sysfs = SysfsDirOf(device);
  if (sysfs.empty()) {
    places.push_back(StoragePlace{StorageId{false, device, 0}, start, end, {}});
    return;
  }
  end = BoundedEnd(sysfs, end);
  if (ReadSysfsNumber(sysfs + "/partition")) {
    const auto parent = ParentDiskOf(device);
    const auto first = ReadSysfsNumber(sysfs + "/start");
    if (parent && first) {
      const uint64_t shift = *first * platform::kSectorSize;
      AddDevicePlaces(*parent, SaturatingAdd(start, shift), SaturatingAdd(end, shift), depth,
                      places);
      return;
    }
  }
  places.push_back(StoragePlace{StorageId{false, device, 0}, start, end, {}});
  const auto backing = LoopBackingOf(device, sysfs);
  if (depth >= kMaxStacking || !backing) return;
  const uint64_t from = SaturatingAdd(start, backing->offset);
  const uint64_t to = SaturatingAdd(end, backing->offset);
  if (backing->isFile) {
    places.push_back(
        StoragePlace{StorageId{true, backing->device, backing->inode}, from, to, backing->file});
  } else {
    AddDevicePlaces(backing->device, from, to, depth + 1, places);
  }
}

void AddStatPlaces(const struct stat& st, const std::string& file, uint64_t start, uint64_t end,
                   int depth, std::vector<StoragePlace>& places) {
  if (S_ISREG(st.st_mode)) {
    places.push_back(StoragePlace{StorageId{true, st.st_dev, st.st_ino}, start, end, file});
  }
  if (S_ISBLK(st.st_mode)) AddDevicePlaces(st.st_rdev, start, end, depth, places);
}

bool SameBytes(const StoragePlace& a, const StoragePlace& b) {
  return a.storage == b.storage && a.start < b.end && b.start < a.end;
}

}  // namespace

std::vector<StoragePlace> PlacesOfPath(const std::string& path) {
  std::vector<StoragePlace> places;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) AddStatPlaces(st, path, 0, kNoEnd, 0, places);
  return places;
}

std::vector<StoragePlace> PlacesOfDevice(dev_t device) {
  std::vector<StoragePlace> places;
  AddDevicePlaces(device, 0, kNoEnd, 0, places);
  return places;
}

std::vector<StoragePlace> PlacesOfOpenFile(int fd) {
  std::vector<StoragePlace> places;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    AddStatPlaces(st, "/proc/self/fd/" + std::to_string(fd), 0, kNoEnd, 0, places);
  }
  return places;
}

std::vector<StoragePlace> Narrow(const std::vector<StoragePlace>& places, uint64_t offset,
                                 uint64_t length) {
  std::vector<StoragePlace> narrowed;
  for (const StoragePlace& place : places) {
    const uint64_t start = SaturatingAdd(place.start, offset);
    const uint64_t end = std::min(place.end, SaturatingAdd(start, length));
    if (start < end) narrowed.push_back(StoragePlace{place.storage, start, end, place.file});
  }
  return narrowed;
}

bool Overlap(const std::vector<StoragePlace>& a, const std::vector<StoragePlace>& b) {
  return std::any_of(a.begin(), a.end(), [&](const StoragePlace& place) {
    return std::any_of(b.begin(), b.end(),
                       [&](const StoragePlace& other) { return SameBytes(place, other); });
  });
}

int OpenPlaceFile(const StoragePlace& place, int flags) {
  // A path-only open has no effect on what it reaches (a FIFO, a device), so the file is checked
  // before it is opened for real, through the very descriptor that was checked.
  const int held = open(place.file.c_str(), O_PATH | O_CLOEXEC);
  if (held < 0) return -1;
  struct stat st {};
  const bool same = fstat(held, &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_dev == place.storage.device && st.st_ino == place.storage.inode;
  const int fd =
      same ? open(("/proc/self/fd/" + std::to_string(held)).c_str(), flags | O_CLOEXEC) : -1;
  const int error = same ? errno : ESTALE;
  close(held);
  errno = error;
  return fd;
}

}  // namespace kestro::posix
