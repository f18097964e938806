#include "volume/diagnostics.h"

#include <cstdio>

namespace kestro::cli {

void DiagnosticsBackend::WriteStandardOutput(std::string_view utf8) {
  if (!show_) return;
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace kestro::cli
