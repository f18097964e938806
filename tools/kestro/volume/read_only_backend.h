// The backend of the commands that only read (everything but restore). The volume library asks for
// read-write access whenever it opens a device, whatever its host means to do; under this backend
// every open asks for read access only, so a command that reads can never write, and it works on
// read-only devices and files.
#pragma once

#include "volume/diagnostics.h"

namespace kestro::cli {

class ReadOnlyBackend : public DiagnosticsBackend {
 public:
  using DiagnosticsBackend::DiagnosticsBackend;

  win32::HANDLE CreateFileW(win32::LPCWSTR name, win32::DWORD access, win32::DWORD share,
                            win32::LPSECURITY_ATTRIBUTES security, win32::DWORD disposition,
                            win32::DWORD flags, win32::HANDLE templateFile) override;
};

}  // namespace kestro::cli
