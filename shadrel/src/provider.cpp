#include <shadrel/provider.h>

#include <atomic>

#include "unavailable_provider.h"

namespace shadrel {
namespace {

Provider& DefaultProvider() {
  static UnavailableProvider provider;
  return provider;
}

std::atomic<Provider*> g_current{nullptr};

}  // namespace

Provider::~Provider() = default;

Provider& CurrentProvider() {
  Provider* provider = g_current.load(std::memory_order_acquire);
  return provider ? *provider : DefaultProvider();
}

ScopedProvider::ScopedProvider(Provider& provider)
    : previous_(g_current.exchange(&provider, std::memory_order_acq_rel)) {}

ScopedProvider::~ScopedProvider() {
  g_current.store(previous_, std::memory_order_release);
}

}  // namespace shadrel
