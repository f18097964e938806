#include "volume/shared_resources.h"

#include <mutex>
#include <unordered_map>

namespace kestro {
namespace {

struct Holders {
  unsigned count = 1;
  const void* owner = nullptr;  // the holder that last wrote into a staging buffer
};

class SharedValues {
 public:
  void Retain(const void* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [entry, added] = holders_.try_emplace(value);
    entry->second.count += 1;
    entry->second.owner = nullptr;
  }

  bool Release(const void* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = holders_.find(value);
    if (entry == holders_.end()) return true;
    entry->second.owner = nullptr;
    if (--entry->second.count > 0) return false;
    holders_.erase(entry);
    return true;
  }

  void Claim(const void* value, const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = holders_.find(value);
    if (entry != holders_.end()) entry->second.owner = owner;
  }

  bool ClaimedBy(const void* value, const void* owner) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = holders_.find(value);
    return entry == holders_.end() || entry->second.owner == owner;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<const void*, Holders> holders_;
};

SharedValues& Handles() {
  static SharedValues* values = new SharedValues();
  return *values;
}

SharedValues& Buffers() {
  static SharedValues* values = new SharedValues();
  return *values;
}

}  // namespace

void RetainHandle(win32::HANDLE handle) {
  // A macro on Windows, so it is named unqualified.
  using namespace win32;
  if (handle != INVALID_HANDLE_VALUE) Handles().Retain(handle);
}

bool ReleaseHandle(win32::HANDLE handle) {
  return Handles().Release(handle);
}

void RetainBuffer(const void* buffer) {
  if (buffer != nullptr) Buffers().Retain(buffer);
}

bool ReleaseBuffer(const void* buffer) {
  return Buffers().Release(buffer);
}

void ClaimBuffer(const void* buffer, const void* owner) {
  Buffers().Claim(buffer, owner);
}

bool BufferClaimedBy(const void* buffer, const void* owner) {
  return Buffers().ClaimedBy(buffer, owner);
}

}  // namespace kestro
