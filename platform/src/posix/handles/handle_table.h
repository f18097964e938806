// The table from HANDLE values to open objects. Values are multiples of 4 and never 0 or -1.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include <win32/types.h>

#include "handles/open_object.h"

namespace kestro::posix {

using namespace win32;

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<OpenObject> object);
  std::shared_ptr<OpenObject> Find(HANDLE handle) const;
  // Removes the handle; the object closes when its last user lets go of it.
  std::shared_ptr<OpenObject> Remove(HANDLE handle);

 private:
  mutable std::mutex mutex_;
  uintptr_t next_ = 0x100;
  std::unordered_map<uintptr_t, std::shared_ptr<OpenObject>> objects_;
};

}  // namespace kestro::posix
