// On Windows the requester makes shadow copies through the system's service.
#include "platform_provider.h"

#include "vss_backup_steps.h"
#include "vss_provider.h"

namespace shadrel {

Provider& PlatformProvider() {
  static VssProvider provider(MakeVssBackupSteps);
  return provider;
}

}  // namespace shadrel
