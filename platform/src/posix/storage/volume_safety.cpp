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
#include "storage/mount_table.h"
#include "sector.h"

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
  }

 private:
  std::mutex mutex_;
  std::vector<const HandleGuard*> holders_;
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

std::string DescriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// The kernel refuses an O_EXCL open of a block device while a file system is mounted from it,
// from a partition of it or from the disk it is part of, or while another opener holds it so.
int OpenExclusive(const OpenObject& object) {
  return open(DescriptorPath(object.fd).c_str(),
              (object.canRead ? O_RDONLY : O_WRONLY) | O_EXCL | O_CLOEXEC);
}

bool IsBlockDevice(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

bool IsStorage(int fd, const StorageId& storage) {
  struct stat st {};
  return fstat(fd, &st) == 0 && st.st_dev == storage.device && st.st_ino == storage.inode;
}

// An open-file-description lock on the file's bytes of `place`, held until its descriptor
// closes. A file this process may only read gets a read lock, which still excludes writers.
int LockFileRange(const StoragePlace& place) {
  int fd = open(place.file.c_str(), O_RDWR | O_CLOEXEC);
  short type = F_WRLCK;
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = open(place.file.c_str(), O_RDONLY | O_CLOEXEC);
    type = F_RDLCK;
  }
  if (fd < 0) return -1;
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(place.start);
  const bool toTheEnd = place.end == std::numeric_limits<uint64_t>::max();
  range.l_len = toTheEnd ? 0 : static_cast<off_t>(place.end - place.start);
  const bool same = IsStorage(fd, place.storage);
  if (!same || fcntl(fd, F_OFD_SETLK, &range) != 0) {
    const int error = same ? errno : ESTALE;  // the path now names another file
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

DWORD TakeKernelLocks(const OpenObject& object, HandleGuard& guard) {
  if (IsBlockDevice(object.fd)) {
    const int fd = OpenExclusive(object);
    if (fd < 0) return LockError(errno);
    guard.lockFds.push_back(fd);
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
  const DWORD error = TakeKernelLocks(object, guard);
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
  if (object.kind != ObjectKind::kVolume) return !InUseBySystem(Narrow(places, offset, length));
  // A volume is in use as a whole, so a host rewriting it is refused before its first block.
  const uint64_t inVolume = offset - object.base;
  const bool bootSectorOnly = inVolume < kSectorSize && length <= kSectorSize - inVolume;
  return bootSectorOnly || !InUseBySystem(Narrow(places, object.base, object.length));
}

bool DescriptorWriteAllowed(int fd, uint64_t offset, uint64_t length) {
  return !InUseBySystem(Narrow(PlacesOfOpenFile(fd), offset, length));
}

}  // namespace kestro::posix
