#include "handles/device_objects.h"

#include <strings.h>

#include <map>
#include <mutex>

#include <win32/volume_storage.h>

namespace kestro {
namespace {

struct IgnoringCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, posix::VolumeTarget, IgnoringCase> objects;
  unsigned long next = 1;
};

Registry& Objects() {
  static Registry* registry = new Registry();
  return *registry;
}

posix::VolumeTarget TargetOf(const VolumeStorage& storage) {
  posix::VolumeTarget target;
  target.path = storage.path;
  target.offset = storage.offset;
  target.length = storage.length;
  target.disk = posix::DiskTarget{storage.diskPath, storage.diskNumber};
  target.diskOffset = storage.diskOffset;
  target.partitionNumber = storage.partitionNumber;
  return target;
}

}  // namespace

std::string PublishDeviceObject(const std::string& prefix, const VolumeStorage& storage) {
  Registry& registry = Objects();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::string name;
  do {
    name = prefix + std::to_string(registry.next++);
  } while (registry.objects.count(name));
  registry.objects.emplace(name, TargetOf(storage));
  return name;
}

bool WithdrawDeviceObject(const std::string& name) {
  Registry& registry = Objects();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.objects.erase(name) == 1;
}

namespace posix {

std::optional<VolumeTarget> FindDeviceObject(const std::string& name) {
  Registry& registry = Objects();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto found = registry.objects.find(name);
  if (found == registry.objects.end()) return std::nullopt;
  return found->second;
}

}  // namespace posix
}  // namespace kestro
