#include "storage/volume_safety.h"

#include <algorithm>
#include <mutex>
#include <string>

#include <win32/errors.h>

#include "errno_map.h"
#include "sector.h"

namespace kestro::posix {
namespace {

// The handles holding a volume lock, process-wide.
class LockRegistry {
 public:
  BOOL Acquire(const HandleGuard& guard) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool taken = std::any_of(holders_.begin(), holders_.end(), [&](const HandleGuard* h) {
      return h == &guard || SharePlace(*h, guard);
    });
    if (taken) return Fail(ERROR_ACCESS_DENIED);
    holders_.push_back(&guard);
    return TRUE;
  }

  bool Release(const HandleGuard& guard) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find(holders_.begin(), holders_.end(), &guard);
    if (found == holders_.end()) return false;
    holders_.erase(found);
    return true;
  }

 private:
  static bool SharePlace(const HandleGuard& a, const HandleGuard& b) {
    return std::any_of(a.places.begin(), a.places.end(), [&](const StoragePlace& place) {
      return std::find(b.places.begin(), b.places.end(), place) != b.places.end();
    });
  }

  std::mutex mutex_;
  std::vector<const HandleGuard*> holders_;
};

LockRegistry& Registry() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static LockRegistry* registry = new LockRegistry();
  return *registry;
}

// A volume handle's bytes are its window of the mapped file or device; a disk handle's are its
// whole descriptor, named through /proc so that an image and its loop device meet.
void LearnPlaces(const OpenObject& object, HandleGuard& guard) {
  if (guard.placesKnown) return;
  guard.places = object.kind == ObjectKind::kVolume && object.volume
                     ? PlacesOf(object.volume->path, object.volume->offset)
                     : PlacesOf("/proc/self/fd/" + std::to_string(object.fd), 0);
  guard.placesKnown = true;
}

bool JudgeMounted(const OpenObject& object, HandleGuard& guard) {
  LearnPlaces(object, guard);
  const uint64_t generation = MountTableGeneration();
  if (guard.mountGeneration != generation) {
    guard.mounted = FindMountPoint(guard.places).has_value();
    guard.mountGeneration = generation;
  }
  return guard.mounted;
}

}  // namespace

HandleGuard::~HandleGuard() {
  if (locked) Registry().Release(*this);
}

BOOL LockVolume(OpenObject& object) {
  std::lock_guard<std::mutex> lock(object.mutex);
  HandleGuard& guard = object.guard;
  if (JudgeMounted(object, guard)) return Fail(ERROR_ACCESS_DENIED);
  if (!Registry().Acquire(guard)) return FALSE;
  guard.locked = true;
  return TRUE;
}

BOOL UnlockVolume(OpenObject& object) {
  std::lock_guard<std::mutex> lock(object.mutex);
  if (!object.guard.locked || !Registry().Release(object.guard)) return Fail(ERROR_NOT_LOCKED);
  object.guard.locked = false;
  return TRUE;
}

bool VolumeWriteAllowed(OpenObject& object, uint64_t offset, uint64_t length) {
  const bool bootSectorOnly = offset < kSectorSize && length <= kSectorSize - offset;
  return bootSectorOnly || !JudgeMounted(object, object.guard);
}

}  // namespace kestro::posix
