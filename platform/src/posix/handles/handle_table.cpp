#include "handles/handle_table.h"

#include <unistd.h>

namespace kestro::posix {
namespace {

// What is left of a HANDLE value for the generation: 14 bits in 32-bit builds, 32 otherwise.
constexpr unsigned kGenerationBits = sizeof(uintptr_t) == 4 ? 14 : 32;
constexpr uint64_t kLargestGeneration = (uint64_t{1} << kGenerationBits) - 1;

}  // namespace

OpenObject::~OpenObject() {
  // The readers ahead use the direct descriptor until they have stopped.
  readAhead.reset();
  if (directFd >= 0) close(directFd);
  if (fd >= 0) close(fd);
}

HandleTable::~HandleTable() {
  for (uint32_t i = 0; i < kSegments; ++i) delete[] segments_[i].load();
}

HandleTable::Slot& HandleTable::SlotAt(uint32_t index) {
  std::atomic<Slot*>& segment = segments_[index / kSlotsPerSegment];
  if (segment.load(std::memory_order_relaxed) == nullptr) {
    Slot* slots = new Slot[kSlotsPerSegment];
    for (uint32_t i = 0; i < kSlotsPerSegment; ++i) slots[i].index = index + i;
    segment.store(slots, std::memory_order_release);
  }
  return segment.load(std::memory_order_relaxed)[index % kSlotsPerSegment];
}

HANDLE HandleTable::Insert(std::shared_ptr<OpenObject> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_.empty() && next_ == kSlots) return nullptr;
  free_.reserve(next_ + 1);  // so that Reclaim never allocates
  const uint32_t index = free_.empty() ? next_ : free_.back();
  Slot& slot = SlotAt(index);
  if (free_.empty()) {
    ++next_;
  } else {
    free_.pop_back();
  }
  const uint64_t generation = (slot.state.load() >> 32) % kLargestGeneration + 1;
  slot.object = std::move(object);
  slot.state.store(generation << 32 | 1, std::memory_order_release);
  const uintptr_t value = (static_cast<uintptr_t>(generation) << kIndexBits | index) << 2;
  return reinterpret_cast<HANDLE>(value);
}

bool HandleTable::Remove(HANDLE handle) {
  uint64_t generation = 0;
  Slot* slot = Locate(handle, &generation);
  if (slot == nullptr) return false;
  uint64_t state = slot->state.load(std::memory_order_acquire);
  uint64_t closed = 0;
  do {
    if (!Usable(state, generation)) return false;
    closed = (state | kClosed) - 1;
  } while (!slot->state.compare_exchange_weak(state, closed, std::memory_order_acq_rel));
  if ((closed & kUsers) == 0) Reclaim(*slot);
  return true;
}

// The object closes outside the lock, after its slot is free again.
void HandleTable::Reclaim(Slot& slot) {
  std::shared_ptr<OpenObject> object = std::move(slot.object);
  std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(slot.index);
}

}  // namespace kestro::posix
