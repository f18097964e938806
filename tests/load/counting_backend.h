// A backend wrapper that counts what is open: handles the target opened and not yet closed,
// and blocks it allocated and not yet freed. A close or free the target refuses is counted too;
// none should ever happen.
#pragma once

#include <atomic>

#include <win32/backend_wrapper.h>

namespace kestro::testing {

class CountingBackend : public win32::BackendWrapper {
 public:
  using BackendWrapper::BackendWrapper;

  long OpenHandles() const { return handles_; }
  long LiveAllocations() const { return allocations_; }
  long RefusedReleases() const { return refused_; }

  win32::HANDLE CreateFileW(win32::LPCWSTR name, win32::DWORD access, win32::DWORD share,
                            win32::LPSECURITY_ATTRIBUTES security, win32::DWORD disposition,
                            win32::DWORD flags, win32::HANDLE templateFile) override;
  win32::BOOL CloseHandle(win32::HANDLE object) override;
  win32::LPVOID VirtualAlloc(win32::LPVOID address, win32::SIZE_T size, win32::DWORD type,
                             win32::DWORD protect) override;
  win32::BOOL VirtualFree(win32::LPVOID address, win32::SIZE_T size, win32::DWORD type) override;

 private:
  // Adds `delta` to `count` when the call succeeded, and counts a refusal otherwise.
  win32::BOOL Count(win32::BOOL succeeded, std::atomic<long>& count, long delta);

  std::atomic<long> handles_{0};
  std::atomic<long> allocations_{0};
  std::atomic<long> refused_{0};
};

}  // namespace kestro::testing
