#include "failing_backend.h"

#include <type_traits>

namespace win32::testing {
namespace {

// What `call` returns when it fails, by its result type.
template <typename Result>
Result FailedResult(Kernel32Call call) {
  if constexpr (std::is_same_v<Result, BOOL>) {
    return FALSE;
  } else if constexpr (std::is_same_v<Result, DWORD>) {
    return INVALID_SET_FILE_POINTER;  // SetFilePointer's failure
  } else if constexpr (std::is_same_v<Result, HANDLE>) {
    return call == Kernel32Call::CreateFileW ? INVALID_HANDLE_VALUE : nullptr;
  } else {
    return nullptr;
  }
}

size_t Index(Kernel32Call call) {
  return static_cast<size_t>(call);
}

}  // namespace

FailingBackend::FailingBackend(Backend& target, uint64_t seed)
    : BackendWrapper(target), random_(seed) {}

void FailingBackend::FailOneIn(Kernel32Call call, uint32_t n, DWORD error) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_[Index(call)].oneIn = n;
  rules_[Index(call)].error = error;
}

size_t FailingBackend::FailureCount(Kernel32Call call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rules_[Index(call)].failures;
}

DWORD FailingBackend::Strike(Kernel32Call call) {
  std::lock_guard<std::mutex> lock(mutex_);
  Rule& rule = rules_[Index(call)];
  if (rule.oneIn == 0 || random_() % rule.oneIn != 0) return ERROR_SUCCESS;
  ++rule.failures;
  return rule.error;
}

bool FailingBackend::OneIn(uint32_t n) {
  return n != 0 && Below(n) == 0;
}

// Plain modulo rather than a distribution, whose results differ between standard libraries.
uint64_t FailingBackend::Below(uint64_t bound) {
  std::lock_guard<std::mutex> lock(mutex_);
  return random_() % bound;
}

#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  result FailingBackend::name parameters {                        \
    if (const DWORD error = Strike(Kernel32Call::name)) {         \
      SetLastError(error);                                        \
      return FailedResult<result>(Kernel32Call::name);            \
    }                                                             \
    return BackendWrapper::name arguments;                        \
  }
#include <win32/kernel32_calls.def>

}  // namespace win32::testing
