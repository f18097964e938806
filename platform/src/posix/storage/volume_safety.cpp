#include "storage/volume_safety.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <string>

#include <win32/errors.h>

#include "errno_map.h"
#include "storage/kernel_use.h"
#include "storage/mount_table.h"
#include "storage/open_files.h"
#include <win32/sector.h>

namespace kestro::posix {
namespace {

// The handles of this process holding a volume lock; a lock excludes every handle whose bytes
// overlap it, whichever name they were opened by.
class LockRegistry {
 public:
  bool Acquire(const HandleGuard& guard) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool taken = std::any_of(holders_.begin(), holders_.end(), [&](const HandleGuard* h) {
      return Overlap(h->lockedPlaces, guard.lockedPlaces);
    });
    if (!taken) holders_.push_back(&guard);
    return !taken;
  }

  void Release(const HandleGuard& guard) {
    std::lock_guard<std::mutex> lock(mutex_);
    holders_.erase(std::remove(holders_.begin(), holders_.end(), &guard), holders_.end());
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const auto& held) { return held.first == &guard; }),
                   devices_.end());
  }

  void AddDevices(const HandleGuard& guard, const std::vector<dev_t>& devices) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const dev_t device : devices) devices_.emplace_back(&guard, device);
  }

  // The block devices this process holds open with O_EXCL, which its own checks must not take
  // for another user's.
  std::vector<dev_t> Devices() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<dev_t> devices;
    for (const auto& held : devices_) devices.push_back(held.second);
    return devices;
  }

 private:
  std::mutex mutex_;
  std::vector<const HandleGuard*> holders_;
  std::vector<std::pair<const HandleGuard*, dev_t>> devices_;
};

LockRegistry& Registry() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static LockRegistry* registry = new LockRegistry();
  return *registry;
}

const std::vector<StoragePlace>& KnownPlaces(const OpenObject& object, HandleGuard& guard) {
  if (!guard.placesKnown) {
    guard.places = PlacesOfOpenFile(object.fd);
    guard.placesKnown = true;
  }
  return guard.places;
}

// An open-file-description lock on the file's bytes of `place`, held until its descriptor
// closes. A file this process may only read gets a read lock, which still excludes writers.
int LockFileRange(const StoragePlace& place) {
  int fd = OpenPlaceFile(place, O_RDWR);
  short type = F_WRLCK;
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = OpenPlaceFile(place, O_RDONLY);
    type = F_RDLCK;
  }
  if (fd < 0) return -1;
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(place.start);
  const bool toTheEnd = place.end == std::numeric_limits<uint64_t>::max();
  range.l_len = toTheEnd ? 0 : static_cast<off_t>(place.end - place.start);
  if (fcntl(fd, F_OFD_SETLK, &range) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

DWORD LockError(int error) {
  const bool heldElsewhere = error == EBUSY || error == EAGAIN || error == EACCES;
  return heldElsewhere ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(error);
}

void ReleaseKernelLocks(HandleGuard& guard) {
  for (const int fd : guard.lockFds) close(fd);
  guard.lockFds.clear();
}

// Holds every block device over the locked bytes with O_EXCL, so that nothing can mount, swap on
// or otherwise claim them while the lock lasts, and locks the byte ranges of image files.
DWORD TakeKernelLocks(HandleGuard& guard) {
  std::vector<dev_t> held;
  std::string refusal;
  guard.lockFds = HoldDevicesOver(guard.lockedPlaces, &held, &refusal);
  if (!refusal.empty()) return ERROR_ACCESS_DENIED;
  Registry().AddDevices(guard, held);
  if (OtherWriterOf(guard.lockedPlaces)) {
    ReleaseKernelLocks(guard);
    return ERROR_ACCESS_DENIED;
  }
  for (const StoragePlace& place : guard.lockedPlaces) {
    if (!place.storage.isFile) continue;
    const int fd = LockFileRange(place);
    if (fd < 0) {
      const DWORD error = LockError(errno);
      ReleaseKernelLocks(guard);
      return error;
    }
    guard.lockFds.push_back(fd);
  }
  return ERROR_SUCCESS;
}

void ReleaseLock(HandleGuard& guard) {
  Registry().Release(guard);
  ReleaseKernelLocks(guard);
  guard.lockedPlaces.clear();
  guard.locked = false;
}

std::vector<dev_t> OwnHolds() {
  return Registry().Devices();
}

std::vector<StoragePlace> AllPlaces(const std::vector<BusyStorage>& busy) {
  std::vector<StoragePlace> places;
  for (const BusyStorage& each : busy)
    places.insert(places.end(), each.places.begin(), each.places.end());
  return places;
}

// The places of the handle the kernel says are in use, asked again whenever the mount table or
// the swap areas may have changed. The first write asks, so a file a loop device was attached to
// after the handle opened is caught before anything is written.
std::vector<StoragePlace> KnownBusy(OpenObject& object, const std::vector<StoragePlace>& places) {
  HandleGuard& guard = object.guard;
  const uint64_t generation = MountTableGeneration();
  // A refusal is asked about again at every write: a FUSE server may still be on its way out
  // after its file system was unmounted.
  if (!guard.busyKnown || guard.busyGeneration != generation || !guard.busy.empty()) {
    // A file handle reaches past the size the file had when it was opened.
    const bool window = object.kind != ObjectKind::kFile;
    guard.busy =
        BusyWithin(window ? Narrow(places, object.base, object.length) : places, OwnHolds());
    guard.busyGeneration = generation;
    guard.busyKnown = true;
  }
  return AllPlaces(guard.busy);
}

bool SamePlaces(const std::vector<StoragePlace>& a, const std::vector<StoragePlace>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.storage == y.storage && x.start == y.start && x.end == y.end;
  });
}

// The places in use within a descriptor's `places`, for writes that go around the handles. The
// answer for the last descriptor asked about is kept until the mount table may have changed, so
// a run of sector writes asks the kernel once.
std::vector<StoragePlace> DescriptorBusy(const std::vector<StoragePlace>& places) {
  struct Answer {
    std::mutex mutex;
    std::vector<StoragePlace> asked, busy;
    uint64_t generation = 0;
  };
  // Never destroyed, like the lock registry.
  static Answer* last = new Answer();
  const uint64_t generation = MountTableGeneration();
  std::lock_guard<std::mutex> lock(last->mutex);
  if (last->asked.empty() || last->generation != generation || !last->busy.empty() ||
      !SamePlaces(last->asked, places)) {
    last->busy = AllPlaces(BusyWithin(places, OwnHolds()));
    last->asked = places;
    last->generation = generation;
  }
  return last->busy;
}

}  // namespace

HandleGuard::~HandleGuard() {
  if (locked) ReleaseLock(*this);
}

BOOL LockVolume(OpenObject& object) {
  std::lock_guard<std::mutex> lock(object.mutex);
  HandleGuard& guard = object.guard;
  if (guard.locked) return Fail(ERROR_ACCESS_DENIED);
  guard.lockedPlaces = Narrow(KnownPlaces(object, guard), object.base, object.length);
  if (InUseBySystem(guard.lockedPlaces) || !Registry().Acquire(guard)) {
    guard.lockedPlaces.clear();
    return Fail(ERROR_ACCESS_DENIED);
  }
  guard.locked = true;
  const DWORD error = TakeKernelLocks(guard);
  if (error == ERROR_SUCCESS) return TRUE;
  ReleaseLock(guard);
  return Fail(error);
}

BOOL UnlockVolume(OpenObject& object) {
  std::lock_guard<std::mutex> lock(object.mutex);
  if (!object.guard.locked) return Fail(ERROR_NOT_LOCKED);
  ReleaseLock(object.guard);
  return TRUE;
}

BOOL DismountVolume(OpenObject& object) {
  std::lock_guard<std::mutex> lock(object.mutex);
  const auto places = Narrow(KnownPlaces(object, object.guard), object.base, object.length);
  return InUseBySystem(places) ? Fail(ERROR_ACCESS_DENIED) : TRUE;
}

bool WriteAllowed(OpenObject& object, uint64_t offset, uint64_t length) {
  const std::vector<StoragePlace>& places = KnownPlaces(object, object.guard);
  if (object.kind != ObjectKind::kVolume) {
    const auto written = Narrow(places, offset, length);
    return !InUseBySystem(written) && !Overlap(written, KnownBusy(object, places));
  }
  // A volume is in use as a whole, so a host rewriting it is refused before its first block.
  const uint64_t inVolume = offset - object.base;
  const bool bootSectorOnly =
      inVolume < platform::kSectorSize && length <= platform::kSectorSize - inVolume;
  const auto volume = Narrow(places, object.base, object.length);
  return bootSectorOnly || (!InUseBySystem(volume) && !Overlap(volume, KnownBusy(object, places)));
}

bool DescriptorWriteAllowed(int fd, uint64_t offset, uint64_t length) {
  const auto places = PlacesOfOpenFile(fd);
  const auto written = Narrow(places, offset, length);
  return !InUseBySystem(written) && !Overlap(written, DescriptorBusy(places));
}

std::vector<std::string> WhyInUse(const std::vector<StoragePlace>& places) {
  std::vector<std::string> reasons;
  for (const MountedFileSystem& mount : MountsOverlapping(places)) {
    reasons.push_back("a file system is mounted from it at " + mount.mountPoint);
  }
  if (reasons.empty() && InUseBySystem(places)) reasons.push_back("it is an active swap area");
  for (const BusyStorage& busy : BusyWithin(places, OwnHolds())) reasons.push_back(busy.why);
  return reasons;
}

}  // namespace kestro::posix
