#include <win32/backend.h>

#include <atomic>

namespace win32 {
namespace {

std::atomic<Backend*> g_installed{nullptr};

}  // namespace

Backend::~Backend() = default;

Backend& CurrentBackend() {
  Backend* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : DefaultBackend();
}

ScopedBackend::ScopedBackend(Backend& backend)
    : previous_(g_installed.exchange(&backend, std::memory_order_acq_rel)) {}

ScopedBackend::~ScopedBackend() {
  g_installed.store(previous_, std::memory_order_release);
}

}  // namespace win32
