// The table from HANDLE values to open objects. A value is a multiple of 4, never 0 or -1, and
// carries the slot it names and that slot's generation, so a closed handle stays invalid after
// its slot is reused. Looking a handle up takes no lock: it counts one more user of the slot
// with a compare-and-swap, and the object closes when the handle is closed and its last user
// lets go of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <win32/types.h>

#include "open_object.h"

namespace kestro::posix {

using namespace win32;

class HandleTable {
  // A slot's state: its generation above bit 32, the closed mark, and its users. An open handle
  // counts as one user, so a slot with no users is free.
  static constexpr uint64_t kClosed = uint64_t{1} << 31;
  static constexpr uint64_t kUsers = kClosed - 1;
  static constexpr unsigned kIndexBits = 16;
  static constexpr uint32_t kSlots = 1u << kIndexBits;
  static constexpr uint32_t kSlotsPerSegment = 256;
  static constexpr uint32_t kSegments = kSlots / kSlotsPerSegment;

  // Each slot has a cache line of its own, so threads on different handles never share one.
  struct alignas(64) Slot {
    std::atomic<uint64_t> state{0};
    std::shared_ptr<OpenObject> object;  // written only while the slot has no users
    uint32_t index = 0;
  };

 public:
  // One use of a handle's object: the object stays open while the use lives.
  class Use {
   public:
    Use() = default;
    Use(Use&& other) noexcept : table_(other.table_), slot_(other.slot_) { other.slot_ = nullptr; }
    Use& operator=(Use&&) = delete;
    ~Use() {
      if (slot_ == nullptr) return;
      const uint64_t before = slot_->state.fetch_sub(1, std::memory_order_acq_rel);
      if ((before & kClosed) && (before & kUsers) == 1) table_->Reclaim(*slot_);
    }

    explicit operator bool() const { return slot_ != nullptr; }
    OpenObject& operator*() const { return *slot_->object; }
    OpenObject* operator->() const { return slot_->object.get(); }

   private:
    friend class HandleTable;
    Use(HandleTable* table, Slot* slot) : table_(table), slot_(slot) {}

    HandleTable* table_ = nullptr;
    Slot* slot_ = nullptr;
  };

  HandleTable() = default;
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;
  ~HandleTable();

  // The new handle, or nullptr when every slot is taken.
  HANDLE Insert(std::shared_ptr<OpenObject> object);
  // An empty use when the handle is not open. Inline: every transfer and seek starts here.
  Use Find(HANDLE handle) {
    uint64_t generation = 0;
    Slot* slot = Locate(handle, &generation);
    if (slot == nullptr) return Use();
    uint64_t state = slot->state.load(std::memory_order_acquire);
    do {
      if (!Usable(state, generation)) return Use();
    } while (!slot->state.compare_exchange_weak(state, state + 1, std::memory_order_acquire));
    return Use(this, slot);
  }
  // Closes the handle; false when it was not open.
  bool Remove(HANDLE handle);

 private:
  static bool Usable(uint64_t state, uint64_t generation) {
    return state >> 32 == generation && !(state & kClosed) && (state & kUsers) != 0;
  }

  Slot* Locate(HANDLE handle, uint64_t* generation) const {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value & 3) return nullptr;
    const uint32_t index = static_cast<uint32_t>(value >> 2) & (kSlots - 1);
    *generation = static_cast<uint64_t>(value >> (2 + kIndexBits));
    Slot* segment = segments_[index / kSlotsPerSegment].load(std::memory_order_acquire);
    return segment ? &segment[index % kSlotsPerSegment] : nullptr;
  }

  Slot& SlotAt(uint32_t index);
  void Reclaim(Slot& slot);

  std::mutex mutex_;  // guards the free list and the creation of segments
  std::vector<uint32_t> free_;
  uint32_t next_ = 0;
  std::atomic<Slot*> segments_[kSegments] = {};
};

}  // namespace kestro::posix
