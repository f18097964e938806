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
  std::map<std::string, std::shared_ptr<const posix::DeviceObject>, IgnoringCase> objects;
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

std::string PublishDeviceObject(const std::string& prefix, const VolumeStorage& storage,
                                std::function<void()> onLastClose) {
  auto object =
      std::make_shared<const posix::DeviceObject>(TargetOf(storage), std::move(onLastClose));
  Registry& registry = Objects();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::string name;
  do {
    name = prefix + std::to_string(registry.next++);
  } while (registry.objects.count(name));
  registry.objects.emplace(name, std::move(object));
  return name;
}

// The publisher is told outside the lock: it may publish or withdraw again.
bool WithdrawDeviceObject(const std::string& name) {
  std::shared_ptr<const posix::DeviceObject> withdrawn;
  {
    Registry& registry = Objects();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.objects.find(name);
    if (found == registry.objects.end()) return false;
    withdrawn = std::move(found->second);
    registry.objects.erase(found);
  }
  return true;
}

namespace posix {

std::shared_ptr<const DeviceObject> FindDeviceObject(const std::string& name) {
  Registry& registry = Objects();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto found = registry.objects.find(name);
  return found == registry.objects.end() ? nullptr : found->second;
}

}  // namespace posix
}  // namespace kestro
