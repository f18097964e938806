// The kernel32 functions: each forwards to the current backend. GetLastError and SetLastError
// keep the per-thread code where the platform does (posix/last_error.cpp, windows/).
#include <win32/windows.h>
#include <win32/backend.h>

#include <cstring>

namespace win32 {

#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  result WINAPI name parameters {                                 \
    return CurrentBackend().name arguments;                       \
  }
#include <win32/kernel32_calls.def>

HMODULE Kernel32ModuleHandle() {
  static int marker;
  return reinterpret_cast<HMODULE>(&marker);
}

namespace {

// GCC allows casts between unrelated function types only through void (*)().
template <typename Function>
FARPROC AsProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

FARPROC LookupKernel32Export(const char* procName) {
  struct Export {
    const char* name;
    FARPROC address;
  };
  static const Export exports[] = {
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) {#name, AsProc(&name)},
#define KESTRO_KERNEL32_LOCAL_CALL KESTRO_KERNEL32_CALL
#include <win32/kernel32_calls.def>
  };
  if (procName == nullptr) return nullptr;
  for (const Export& e : exports) {
    if (std::strcmp(e.name, procName) == 0) return e.address;
  }
  return nullptr;
}

}  // namespace win32
