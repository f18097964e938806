// Copies of a volume object share its device handle and staging buffer, and each shared value is
// listed with the addresses of the objects that took it by copying or assignment (a value never
// shared is unlisted and owned by its one holder). An object leaves every list by its address
// when it is destroyed, assigned or given a new staging buffer, whatever its members hold by
// then, so the lists name only live objects, whose members tell who still holds a value. Only a
// destructor closes or frees, and only a value it holds that no listed object still holds, so
// detaching a copy by clearing its members and destroying copies in any order release each value
// once.
#include "volume/shared_resources.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "volume/window_flag.h"

using namespace win32;

namespace kestro {
namespace {

using Holders = std::vector<CKestro32*>;

// What a listed object holds now; its own thread may be using it meanwhile.
const void* HandleOf(const CKestro32& volume) {
  return std::atomic_ref<HANDLE>(const_cast<HANDLE&>(volume.m_hDisk))
      .load(std::memory_order_relaxed);
}

const void* BufferOf(const CKestro32& volume) {
  return std::atomic_ref<BYTE*>(const_cast<BYTE*&>(volume.m_pBuffer))
      .load(std::memory_order_relaxed);
}

// The holders of each shared value of one kind (handles or buffers).
class HolderLists {
 public:
  using Member = const void* (*)(const CKestro32&);
  explicit HolderLists(Member member) : member_(member) {}

  // The list of `value`, with `source` on it and room for one more holder. Throws std::bad_alloc
  // with the lists unchanged in meaning.
  Holders& Prepare(const void* value, const CKestro32& source) {
    Holders& holders = lists_[value];
    auto* listed = const_cast<CKestro32*>(&source);
    if (std::find(holders.begin(), holders.end(), listed) == holders.end()) {
      holders.reserve(std::max<size_t>(2, holders.size() * 2 + 2));
      holders.push_back(listed);
    } else if (holders.size() == holders.capacity()) {
      holders.reserve(holders.size() * 2);
    }
    return holders;
  }

  void RemoveOnce(const void* value, const CKestro32& holder) {
    auto entry = lists_.find(value);
    if (entry == lists_.end()) return;
    Holders& holders = entry->second;
    auto listed = std::find(holders.begin(), holders.end(), &holder);
    if (listed != holders.end()) holders.erase(listed);
    Tidy(entry);
  }

  // Takes `holder` off every list but that of `kept`, where it stays once. Never allocates: the
  // kept entry returns to room its removal just made.
  void KeepOnly(const CKestro32& holder, const void* kept) {
    auto* listed = const_cast<CKestro32*>(&holder);
    for (auto entry = lists_.begin(); entry != lists_.end();) {
      Holders& holders = entry->second;
      const size_t before = holders.size();
      std::erase(holders, listed);
      if (entry->first == kept && holders.size() != before) holders.push_back(listed);
      entry = Tidy(entry);
    }
  }

  // Takes `holder` off every list; true when no other listed object still holds `held`.
  bool Leave(const CKestro32& holder, const void* held) {
    bool sharedStill = false;
    for (auto entry = lists_.begin(); entry != lists_.end();) {
      Holders& holders = entry->second;
      std::erase(holders, &holder);
      if (entry->first == held) {
        std::erase_if(holders, [&](const CKestro32* other) { return member_(*other) != held; });
        sharedStill = !holders.empty();
      }
      entry = Tidy(entry);
    }
    return !sharedStill;
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
  using Entry = std::unordered_map<const void*, Holders>::iterator;

  // A value down to one holder is unlisted again: that holder owns it alone.
  Entry Tidy(Entry entry) {
    return entry->second.size() > 1 ? std::next(entry) : lists_.erase(entry);
  }

  Member member_;
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

  void UndoJoin(const CKestro32& source, const CKestro32& joiner) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.RemoveOnce(source.m_hDisk, joiner);
    buffers_.RemoveOnce(source.m_pBuffer, joiner);
    Count();
  }

  void KeepOnly(const CKestro32& holder, HANDLE handle, const void* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.KeepOnly(holder, handle);
    buffers_.KeepOnly(holder, buffer);
    Count();
  }

  LastHolds Leave(const CKestro32& holder) {
    std::lock_guard<std::mutex> lock(mutex_);
    LastHolds last;
    last.handle = handles_.Leave(holder, holder.m_hDisk) && holder.m_hDisk != INVALID_HANDLE_VALUE;
    last.buffer = buffers_.Leave(holder, holder.m_pBuffer) && holder.m_pBuffer != nullptr;
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
  HolderLists handles_{HandleOf};
  HolderLists buffers_{BufferOf};
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

void UndoJoin(const CKestro32& source, const CKestro32& joiner) {
  Shared().UndoJoin(source, joiner);
}

void KeepOnlyHolding(const CKestro32& holder, HANDLE handle, const void* buffer) {
  Shared().KeepOnly(holder, handle, buffer);
}

LastHolds LeaveAllHolders(const CKestro32& holder) {
  return Shared().Leave(holder);
}

void DropWindowsSharingBuffer(const CKestro32& volume) {
  Shared().DropOtherWindows(volume, false);
}

void DropWindowsSharingVolume(const CKestro32& volume) {
  Shared().DropOtherWindows(volume, true);
}

}  // namespace kestro
