// Watches the general-purpose allocator: the test binary that links allocation_log.cpp replaces
// the global operator new and delete, and while a log is recording every allocation and
// release is noted, and a chosen allocation can be made to throw.
#pragma once

// On Windows every DLL carries its own runtime and allocator, so a test binary's replacement
// neither sees the library's allocations nor may free its blocks: the log exists elsewhere only.
#ifdef _WIN32
#define KESTRO_HAVE_ALLOCATION_LOG 0
#else
#define KESTRO_HAVE_ALLOCATION_LOG 1
#endif

#include <cstddef>
#include <string>
#include <vector>

namespace kestro::testing {

class AllocationLog {
 public:
  AllocationLog();
  ~AllocationLog();
  AllocationLog(const AllocationLog&) = delete;
  AllocationLog& operator=(const AllocationLog&) = delete;

  // "new 512", "delete 512", in order, for blocks of at least `minimumSize` bytes.
  std::vector<std::string> Events(size_t minimumSize) const;
  // Makes the allocation of exactly `size` bytes that comes `skip` such allocations from now
  // throw std::bad_alloc.
  void FailAllocation(size_t size, int skip = 0);
};

}  // namespace kestro::testing
