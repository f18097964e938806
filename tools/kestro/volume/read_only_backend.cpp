#include "volume/read_only_backend.h"

namespace kestro::cli {

using namespace win32;

HANDLE ReadOnlyBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                    HANDLE templateFile) {
  const DWORD readOnly = access & ~GENERIC_WRITE;
  return DiagnosticsBackend::CreateFileW(name, readOnly, share, security, disposition, flags,
                                         templateFile);
}

}  // namespace kestro::cli
