// Platforms without a snapshot provider of their own read every volume live.
#include "platform_provider.h"
#include "unavailable_provider.h"

namespace shadrel {

Provider& PlatformProvider() {
  static UnavailableProvider provider;
  return provider;
}

}  // namespace shadrel
