// The default backend: Win32 semantics over POSIX files, Linux block devices and the drive map.
#pragma once

#include <win32/backend.h>

#include "handles/handle_table.h"

namespace kestro::posix {

using namespace win32;

class PosixBackend : public Backend {
 public:
#define KESTRO_KERNEL32_CALL(result, name, parameters, arguments) result name parameters override;
#include <win32/kernel32_calls.def>

  void WriteStandardOutput(std::string_view utf8) override;

 private:
  // The object behind `handle`, or nullptr with ERROR_INVALID_HANDLE set.
  HandleTable::Use Lookup(HANDLE handle);

  HandleTable handles_;
};

}  // namespace kestro::posix
