#include "handles/handle_table.h"

#include <unistd.h>

namespace kestro::posix {

OpenObject::~OpenObject() {
  if (fd >= 0) close(fd);
}

HANDLE HandleTable::Insert(std::shared_ptr<OpenObject> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uintptr_t value = next_;
  next_ += 4;
  objects_.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<OpenObject> HandleTable::Find(HANDLE handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
  return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<OpenObject> HandleTable::Remove(HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
  if (found == objects_.end()) return nullptr;
  std::shared_ptr<OpenObject> object = std::move(found->second);
  objects_.erase(found);
  return object;
}

}  // namespace kestro::posix
