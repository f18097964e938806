#include "volume/shared_resources.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "volume/window_flag.h"

using namespace win32;

namespace kestro {
namespace {

using Holders = std::vector<CKestro32*>;

// The holders of each shared value of one kind (handles or buffers).
class HolderLists {
 public:
  // The list of `value` with room for one more holder. A value met for the first time is listed
  // with `source` as its holder. Throws std::bad_alloc with the lists unchanged in meaning.
  Holders& Prepare(const void* value, const CKestro32& source) {
    auto entry = lists_.find(value);
    if (entry == lists_.end()) {
      Holders first;
      first.reserve(2);
      first.push_back(const_cast<CKestro32*>(&source));
      entry = lists_.emplace(value, std::move(first)).first;
    }
    Holders& holders = entry->second;
    if (holders.size() == holders.capacity()) holders.reserve(holders.size() * 2);
    return holders;
  }

  // A value down to one holder is unlisted again: that holder owns it alone.
  bool LetGo(const void* value, const CKestro32& holder) {
    auto entry = lists_.find(value);
    if (entry == lists_.end()) return true;
    Holders& holders = entry->second;
    auto listed = std::find(holders.begin(), holders.end(), &holder);
    if (listed == holders.end()) return false;
    holders.erase(listed);
    if (holders.size() > 1) return false;
    const bool last = holders.empty();
    lists_.erase(entry);
    return last;
  }

  void DropOtherWindows(const void* value, const CKestro32& self) const {
    auto entry = lists_.find(value);
    if (entry == lists_.end()) return;
    for (CKestro32* holder : entry->second) {
      if (holder != &self) WindowFlag(*holder).store(0, std::memory_order_release);
    }
  }

  size_t size() const { return lists_.size(); }

 private:
  std::unordered_map<const void*, Holders> lists_;
};

class SharedResources {
 public:
  void Join(const CKestro32& source, CKestro32& joiner) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Both lists get their room first, so that listing the joiner cannot fail half-way.
    Holders* handleHolders = nullptr;
    if (source.m_hDisk != INVALID_HANDLE_VALUE) {
      handleHolders = &handles_.Prepare(source.m_hDisk, source);
    }
    Holders* bufferHolders = nullptr;
    if (source.m_pBuffer != nullptr) {
      bufferHolders = &buffers_.Prepare(source.m_pBuffer, source);
    }
    if (handleHolders) handleHolders->push_back(&joiner);
    if (bufferHolders) bufferHolders->push_back(&joiner);
    Count();
  }

  bool LetGoOfHandle(HANDLE handle, const CKestro32& holder) {
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const bool last = handles_.LetGo(handle, holder);
    Count();
    return last;
  }

  bool LetGoOfBuffer(const void* buffer, const CKestro32& holder) {
    if (buffer == nullptr) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const bool last = buffers_.LetGo(buffer, holder);
    Count();
    return last;
  }

  void DropOtherWindows(const CKestro32& volume, bool sharingHandle) {
    // Objects that share nothing, the usual case, never take the lock.
    if (listed_.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    buffers_.DropOtherWindows(volume.m_pBuffer, volume);
    if (sharingHandle) handles_.DropOtherWindows(volume.m_hDisk, volume);
  }

 private:
  void Count() { listed_.store(handles_.size() + buffers_.size(), std::memory_order_relaxed); }

  std::mutex mutex_;
  HolderLists handles_;
  HolderLists buffers_;
  std::atomic<size_t> listed_{0};
};

SharedResources& Shared() {
  // Never destroyed: objects with static storage may let go of their handles at exit.
  static SharedResources* shared = new SharedResources();
  return *shared;
}

}  // namespace

void JoinHolders(const CKestro32& source, CKestro32& joiner) {
  Shared().Join(source, joiner);
}

bool LetGoOfHandle(HANDLE handle, const CKestro32& holder) {
  return Shared().LetGoOfHandle(handle, holder);
}

bool LetGoOfBuffer(const void* buffer, const CKestro32& holder) {
  return Shared().LetGoOfBuffer(buffer, holder);
}

void DropWindowsSharingBuffer(const CKestro32& volume) {
  Shared().DropOtherWindows(volume, false);
}

void DropWindowsSharingVolume(const CKestro32& volume) {
  Shared().DropOtherWindows(volume, true);
}

}  // namespace kestro
