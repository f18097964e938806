#include <shadrel/provider.h>

#include <atomic>

#include "platform_provider.h"

namespace shadrel {
namespace {

std::atomic<Provider*> g_current{nullptr};

}  // namespace

Provider::~Provider() = default;

Provider& CurrentProvider() {
  Provider* provider = g_current.load(std::memory_order_acquire);
  return provider ? *provider : PlatformProvider();
}

ScopedProvider::ScopedProvider(Provider& provider)
    : previous_(g_current.exchange(&provider, std::memory_order_acq_rel)) {}

ScopedProvider::~ScopedProvider() {
  g_current.store(previous_, std::memory_order_release);
}

}  // namespace shadrel
