// The provider of the platform the library is built for: each platform's folder defines it.
#pragma once

#include <shadrel/provider.h>

namespace shadrel {

Provider& PlatformProvider();

}  // namespace shadrel
