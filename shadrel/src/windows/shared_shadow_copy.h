// A shadow copy shared by every requester that holds it (a requester and its copies): the last
// holder to let go releases it.
#pragma once

#include <atomic>
#include <memory>

#include "shadow_copy.h"

namespace shadrel {

class SharedShadowCopy {
 public:
  explicit SharedShadowCopy(std::unique_ptr<BackupSteps> steps);

  ShadowCopy& Copy() { return copy_; }

  // Adds a holder of `shared` (a SharedShadowCopy or null) and returns it.
  static void* Share(void* shared);

  // Ends the hold in `holder` and clears it. The last holder releases the shadow copy and gets
  // the result of that; everyone else gets success.
  static HResult Drop(void*& holder);

 private:
  std::atomic<long> holders_{1};
  ShadowCopy copy_;
};

}  // namespace shadrel
