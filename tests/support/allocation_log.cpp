#include "allocation_log.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace {

struct Entry {
  bool allocation;
  size_t size;
};

// Plain arrays and malloc only: the allocator itself must not allocate through operator new.
constexpr size_t kCapacity = 4096;
Entry g_entries[kCapacity];
size_t g_count = 0;
bool g_recording = false;
size_t g_failSize = 0;
int g_failSkip = -1;
std::mutex g_mutex;

struct Header {
  size_t size;
  size_t pad;  // keeps the block 16-byte aligned
};

void Note(bool allocation, size_t size) {
  if (g_recording && g_count < kCapacity) g_entries[g_count++] = Entry{allocation, size};
}

bool ShouldFail(size_t size) {
  if (!g_recording || g_failSkip < 0 || size != g_failSize) return false;
  return g_failSkip-- == 0;
}

}  // namespace

void* operator new(size_t size) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (ShouldFail(size)) throw std::bad_alloc();
    Note(true, size);
  }
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
  if (header == nullptr) throw std::bad_alloc();
  header->size = size;
  return header + 1;
}

// This is the replacement allocator itself: its blocks come from malloc, whatever the caller
// believes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  Header* header = static_cast<Header*>(block) - 1;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Note(false, header->size);
  }
  std::free(header);
}
#pragma GCC diagnostic pop

void operator delete(void* block, size_t) noexcept {
  operator delete(block);
}
void* operator new[](size_t size) {
  return operator new(size);
}
void operator delete[](void* block) noexcept {
  operator delete(block);
}
void operator delete[](void* block, size_t) noexcept {
  operator delete(block);
}

namespace kestro::testing {

AllocationLog::AllocationLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_count = 0;
  g_failSkip = -1;
  g_recording = true;
}

AllocationLog::~AllocationLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_recording = false;
  g_failSkip = -1;
}

std::vector<std::string> AllocationLog::Events(size_t minimumSize) const {
  std::vector<Entry> entries;
  entries.reserve(kCapacity);  // so that the copy below allocates nothing while holding the lock
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = 0; i < g_count; ++i) entries.push_back(g_entries[i]);
  }
  std::vector<std::string> events;
  for (const Entry& entry : entries) {
    if (entry.size < minimumSize) continue;
    events.push_back((entry.allocation ? "new " : "delete ") + std::to_string(entry.size));
  }
  return events;
}

void AllocationLog::FailAllocation(size_t size, int skip) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_failSize = size;
  g_failSkip = skip;
}

}  // namespace kestro::testing
