// The default backend on Windows: every call goes to the system's kernel32, and diagnostic lines
// to the process's standard output. This file is compiled against the system's own declarations
// (without KESTRO_WIN32_THROUGH_BACKEND), so ::CreateFileW here is the system's.
#include <win32/backend.h>
#include <win32/kernel32.h>

#include <cstdio>

namespace win32 {
namespace {

class Kernel32Backend : public Backend {
 public:
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  result name parameters override {                               \
    return ::name arguments;                                      \
  }
#include <win32/kernel32_calls.def>

  // Raw bytes, past the runtime's text-mode translation that would double each "\r". Whatever the
  // host has buffered in stdout goes first. Without a console the line is simply lost.
  void WriteStandardOutput(std::string_view utf8) override {
    std::fflush(stdout);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
};

}  // namespace

Backend& DefaultBackend() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static Backend* backend = new Kernel32Backend();
  return *backend;
}

// The system keeps the last error per thread; the fake backend sets it through here too.
DWORD WINAPI GetLastError() {
  return ::GetLastError();
}

void WINAPI SetLastError(DWORD dwErrCode) {
  ::SetLastError(dwErrCode);
}

}  // namespace win32
