// Platforms without a snapshot facility of their own: every start fails and the volume is read
// live.
#include "platform_provider.h"
#include "unavailable_provider.h"

namespace shadrel {

Provider& PlatformProvider() {
  static UnavailableProvider provider;
  return provider;
}

}  // namespace shadrel
