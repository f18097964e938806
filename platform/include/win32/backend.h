// The backend behind the kernel32 functions: one small interface, a POSIX implementation that
// is installed by default, and a guard that lets a test put its own in place for a scope.
#pragma once

#include <string_view>

#include <win32/platform_api.h>
#include <win32/types.h>

namespace win32 {

class KESTROPLAT_API Backend {
 public:
  virtual ~Backend();

#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) \
  virtual result name parameters = 0;
#include <win32/kernel32_calls.def>

  // Receives each diagnostic line, already formatted and encoded as UTF-8.
  virtual void WriteStandardOutput(std::string_view utf8) = 0;
};

// The backend the kernel32 functions forward to.
KESTROPLAT_API Backend& CurrentBackend();

// The platform's own backend (POSIX; on Windows the system's kernel32), created on first use and
// never destroyed.
KESTROPLAT_API Backend& DefaultBackend();

// Installs a backend for the lifetime of the guard and restores the previous one afterwards.
class KESTROPLAT_API ScopedBackend {
 public:
  explicit ScopedBackend(Backend& backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous_;
};

// The layer's own kernel32 exports, by name, as GetProcAddress resolves them.
KESTROPLAT_API FARPROC LookupKernel32Export(const char* procName);

// The module handle GetModuleHandleW gives for "kernel32.dll".
KESTROPLAT_API HMODULE Kernel32ModuleHandle();

}  // namespace win32
