// A backend wrapper that makes chosen calls fail at random: one call in N of each kind fails with
// a chosen error and never reaches the target. The choices come from a seeded generator, so the
// same seed over the same sequence of calls fails the same calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>

#include <win32/backend_wrapper.h>
#include <win32/kernel32_call.h>
#include <win32/windows.h>

namespace win32::testing {

class FailingBackend : public BackendWrapper {
 public:
  FailingBackend(Backend& target, uint64_t seed);

  // One call of `call` in `n`, at random, fails with `error` (not ERROR_SUCCESS); n = 0 lets
  // every call through.
  void FailOneIn(Kernel32Call call, uint32_t n, DWORD error);
  // How many calls of `call` have been made to fail.
  size_t FailureCount(Kernel32Call call) const;

#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) result name parameters override;
#include <win32/kernel32_calls.def>

 protected:
  // The error this call of `call` fails with, or ERROR_SUCCESS when it goes through.
  DWORD Strike(Kernel32Call call);
  // True one time in `n` (never for 0), from the seeded sequence.
  bool OneIn(uint32_t n);
  // A number below `bound` (which is above 0), from the seeded sequence.
  uint64_t Below(uint64_t bound);

 private:
  struct Rule {
    uint32_t oneIn = 0;
    DWORD error = ERROR_SUCCESS;
    size_t failures = 0;
  };

  mutable std::mutex mutex_;
  std::mt19937_64 random_;
  std::array<Rule, kKernel32CallCount> rules_{};
};

}  // namespace win32::testing
