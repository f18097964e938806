// The fault-injecting backend for tests and soak runs: over any backend (the POSIX one on real
// images, typically) it fails calls at random as FailingBackend does, cuts transfers short, and
// fails transfers that touch chosen bad byte ranges of an object, as a medium with unreadable
// sectors would. With nothing chosen it passes every call through unchanged.
//
//   win32::testing::FaultInjectingBackend faults(win32::DefaultBackend(), seed);
//   faults.FailOneIn(Kernel32Call::ReadFile, 50, ERROR_IO_DEVICE);
//   faults.AddBadRange(u"\\\\.\\C:", 1 << 20, 4096);   // ERROR_CRC there
//   win32::ScopedBackend use(faults);
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "failing_backend.h"

namespace win32::testing {

class FaultInjectingBackend : public FailingBackend {
 public:
  using FailingBackend::FailingBackend;

  // One ReadFile or WriteFile in `n` moves fewer bytes than asked (whole 512-byte sectors when
  // the request is) and succeeds; n = 0 lets every transfer run in full.
  void ShortenTransfersOneIn(uint32_t n);
  // Transfers through handles on the object `name` (compared without regard to case) that touch
  // bytes [offset, offset + length) of it fail with `error` and move nothing.
  void AddBadRange(const std::basic_string<WCHAR>& name, uint64_t offset, uint64_t length,
                   DWORD error = ERROR_CRC);
  // Faults of every sort injected so far: failed calls, short transfers and bad-range errors.
  size_t InjectedCount() const;

  HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  BOOL CloseHandle(HANDLE object) override;
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                 LPOVERLAPPED overlapped) override;

 private:
  struct BadRange {
    std::basic_string<WCHAR> name;
    uint64_t offset = 0;
    uint64_t length = 0;
    DWORD error = ERROR_SUCCESS;
  };
  // The fault, if any, a transfer of `size` bytes through `file` meets; ERROR_SUCCESS otherwise.
  DWORD FaultOf(Kernel32Call call, HANDLE file, DWORD size);
  // The bad ranges of the object `file` is open on.
  std::vector<BadRange> BadRangesOf(HANDLE file);
  // The error of a bad range that the `size` bytes at `file`'s pointer touch; ERROR_SUCCESS
  // when they touch none.
  DWORD BadRangeError(HANDLE file, DWORD size);
  // The size a transfer asked for `size` bytes really moves.
  DWORD Shortened(DWORD size);

  std::mutex tablesMutex_;
  std::vector<BadRange> badRanges_;
  std::map<HANDLE, std::basic_string<WCHAR>> objects_;  // the name each open handle was opened by
  std::atomic<uint32_t> shortenOneIn_{0};
  std::atomic<size_t> shortened_{0};
  std::atomic<size_t> badRangeHits_{0};
};

}  // namespace win32::testing
