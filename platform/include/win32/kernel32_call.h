// Names each call of the backend interface, for code that tells calls apart (test doubles, fault
// injection) without comparing strings.
#pragma once

#include <cstddef>

namespace win32 {

enum class Kernel32Call {
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) name,
#include <win32/kernel32_calls.def>
};

inline constexpr const char* kKernel32CallNames[] = {
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) #name,
#include <win32/kernel32_calls.def>
};

inline constexpr size_t kKernel32CallCount = sizeof kKernel32CallNames / sizeof *kKernel32CallNames;

// The call's Win32 name, as GetProcAddress knows it.
constexpr const char* Kernel32CallName(Kernel32Call call) {
  return kKernel32CallNames[static_cast<size_t>(call)];
}

}  // namespace win32
