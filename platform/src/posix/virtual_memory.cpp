#include "virtual_memory.h"

#include <sys/mman.h>

#include <map>
#include <mutex>

#include <win32/errors.h>

#include "errno_map.h"

namespace kestro::posix {
namespace {

// Live allocations by base address, so that MEM_RELEASE knows their size and the page locks
// can refuse ranges that were never committed.
std::mutex g_mutex;
std::map<uintptr_t, size_t> g_regions;

bool InsideOneRegion(const void* address, SIZE_T size) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(address);
  std::lock_guard<std::mutex> lock(g_mutex);
  auto region = g_regions.upper_bound(start);
  if (region == g_regions.begin()) return false;
  --region;
  return start - region->first <= region->second &&
         size <= region->second - (start - region->first);
}

int ProtectionOf(DWORD protect) {
  switch (protect) {
    case PAGE_NOACCESS:
      return PROT_NONE;
    case PAGE_READONLY:
      return PROT_READ;
    case PAGE_READWRITE:
      return PROT_READ | PROT_WRITE;
    default:
      return -1;
  }
}

}  // namespace

LPVOID AllocatePages(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  const int protection = ProtectionOf(protect);
  if (address != nullptr || size == 0 || !(type & MEM_COMMIT) || protection < 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* pages = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_regions[reinterpret_cast<uintptr_t>(pages)] = size;
  return pages;
}

BOOL FreePages(LPVOID address, SIZE_T size, DWORD type) {
  if (type != MEM_RELEASE || size != 0) return Fail(ERROR_INVALID_PARAMETER);
  size_t length = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto region = g_regions.find(reinterpret_cast<uintptr_t>(address));
    if (region == g_regions.end()) return Fail(ERROR_INVALID_ADDRESS);
    length = region->second;
    g_regions.erase(region);
  }
  return munmap(address, length) == 0 ? TRUE : FailFromErrno();
}

BOOL LockPages(LPVOID address, SIZE_T size) {
  if (!InsideOneRegion(address, size)) return Fail(ERROR_NOACCESS);
  return mlock(address, size) == 0 ? TRUE : Fail(ERROR_WORKING_SET_QUOTA);
}

BOOL UnlockPages(LPVOID address, SIZE_T size) {
  if (!InsideOneRegion(address, size)) return Fail(ERROR_NOACCESS);
  return munlock(address, size) == 0 ? TRUE : FailFromErrno();
}

}  // namespace kestro::posix
