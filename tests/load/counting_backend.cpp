#include "counting_backend.h"

using namespace win32;

namespace kestro::testing {

HANDLE CountingBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                    HANDLE templateFile) {
  const HANDLE handle =
      target().CreateFileW(name, access, share, security, disposition, flags, templateFile);
  if (handle != INVALID_HANDLE_VALUE) ++handles_;
  return handle;
}

BOOL CountingBackend::CloseHandle(HANDLE object) {
  return Count(target().CloseHandle(object), handles_, -1);
}

LPVOID CountingBackend::VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  LPVOID block = target().VirtualAlloc(address, size, type, protect);
  if (block != nullptr) ++allocations_;
  return block;
}

BOOL CountingBackend::VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  return Count(target().VirtualFree(address, size, type), allocations_, -1);
}

BOOL CountingBackend::Count(BOOL succeeded, std::atomic<long>& count, long delta) {
  if (succeeded) {
    count += delta;
  } else {
    ++refused_;
  }
  return succeeded;
}

}  // namespace kestro::testing
