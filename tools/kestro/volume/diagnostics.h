// The library prints diagnostic lines of its own on standard output while it opens a volume.
// Standard output belongs to the command's results (cat writes raw bytes there, info --json a
// document), so the command puts a backend in front of the platform's that passes every call
// through but sends those lines to standard error, or nowhere unless asked for.
#pragma once

#include <win32/backend_wrapper.h>

namespace kestro::cli {

class DiagnosticsBackend : public win32::BackendWrapper {
 public:
  DiagnosticsBackend(win32::Backend& inner, bool show) : BackendWrapper(inner), show_(show) {}

  void WriteStandardOutput(std::string_view utf8) override;

 private:
  bool show_;
};

}  // namespace kestro::cli
