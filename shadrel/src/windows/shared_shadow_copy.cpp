#include "shared_shadow_copy.h"

#include <utility>

namespace shadrel {

SharedShadowCopy::SharedShadowCopy(std::unique_ptr<BackupSteps> steps) : copy_(std::move(steps)) {}

void* SharedShadowCopy::Share(void* shared) {
  if (shared != nullptr) {
    static_cast<SharedShadowCopy*>(shared)->holders_.fetch_add(1, std::memory_order_relaxed);
  }
  return shared;
}

HResult SharedShadowCopy::Drop(void*& holder) {
  auto* shared = static_cast<SharedShadowCopy*>(std::exchange(holder, nullptr));
  if (shared == nullptr) return kOk;
  if (shared->holders_.fetch_sub(1, std::memory_order_acq_rel) != 1) return kOk;
  const HResult released = shared->copy_.Release();
  delete shared;
  return released;
}

}  // namespace shadrel
