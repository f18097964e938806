// The requester's default provider, defined by the folder of the platform being built.
#pragma once

#include <shadrel/provider.h>

namespace shadrel {

Provider& PlatformProvider();

}  // namespace shadrel
