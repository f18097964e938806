#include "fault_injecting_backend.h"

#include <win32/sector.h>

namespace win32::testing {
namespace {

BOOL FailTransfer(DWORD error, LPDWORD done) {
  if (done) *done = 0;
  SetLastError(error);
  return FALSE;
}

}  // namespace

void FaultInjectingBackend::ShortenTransfersOneIn(uint32_t n) {
  shortenOneIn_ = n;
}

void FaultInjectingBackend::AddBadRange(const std::basic_string<WCHAR>& name, uint64_t offset,
                                        uint64_t length, DWORD error) {
  std::lock_guard<std::mutex> lock(tablesMutex_);
  badRanges_.push_back(BadRange{name, offset, length, error});
}

size_t FaultInjectingBackend::InjectedCount() const {
  size_t count = shortened_ + badRangeHits_;
  for (size_t call = 0; call < kKernel32CallCount; ++call) {
    count += FailureCount(static_cast<Kernel32Call>(call));
  }
  return count;
}

HANDLE FaultInjectingBackend::CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE templateFile) {
  const HANDLE handle =
      FailingBackend::CreateFileW(name, access, share, security, disposition, flags, templateFile);
  if (handle != INVALID_HANDLE_VALUE) {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    objects_[handle] = name;
  }
  return handle;
}

BOOL FaultInjectingBackend::CloseHandle(HANDLE object) {
  const BOOL closed = FailingBackend::CloseHandle(object);
  if (closed) {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    objects_.erase(object);
  }
  return closed;
}

BOOL FaultInjectingBackend::ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                                     LPOVERLAPPED overlapped) {
  if (const DWORD error = FaultOf(Kernel32Call::ReadFile, file, size))
    return FailTransfer(error, done);
  return target().ReadFile(file, buffer, Shortened(size), done, overlapped);
}

BOOL FaultInjectingBackend::WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                                      LPOVERLAPPED overlapped) {
  if (const DWORD error = FaultOf(Kernel32Call::WriteFile, file, size))
    return FailTransfer(error, done);
  return target().WriteFile(file, buffer, Shortened(size), done, overlapped);
}

DWORD FaultInjectingBackend::FaultOf(Kernel32Call call, HANDLE file, DWORD size) {
  const DWORD error = Strike(call);
  return error != ERROR_SUCCESS ? error : BadRangeError(file, size);
}

std::vector<FaultInjectingBackend::BadRange> FaultInjectingBackend::BadRangesOf(HANDLE file) {
  std::lock_guard<std::mutex> lock(tablesMutex_);
  std::vector<BadRange> ranges;
  auto open = objects_.find(file);
  if (open == objects_.end()) return ranges;
  for (const BadRange& range : badRanges_) {
    if (_wcsicmp(range.name.c_str(), open->second.c_str()) == 0) ranges.push_back(range);
  }
  return ranges;
}

// The target keeps the file pointer; asking it is exact where tracking seeks and transfers
// would have to repeat its rules for ends and short transfers.
DWORD FaultInjectingBackend::BadRangeError(HANDLE file, DWORD size) {
  const std::vector<BadRange> ranges = BadRangesOf(file);
  LARGE_INTEGER pointer = {};
  const LARGE_INTEGER stay = {};
  if (ranges.empty() || size == 0 ||
      !target().SetFilePointerEx(file, stay, &pointer, FILE_CURRENT)) {
    return ERROR_SUCCESS;
  }
  const uint64_t from = static_cast<uint64_t>(pointer.QuadPart);
  for (const BadRange& range : ranges) {
    if (from < range.offset + range.length && range.offset < from + size) {
      ++badRangeHits_;
      return range.error;
    }
  }
  return ERROR_SUCCESS;
}

DWORD FaultInjectingBackend::Shortened(DWORD size) {
  using kestro::platform::kSectorSize;
  const DWORD unit = size % kSectorSize == 0 ? kSectorSize : 1;
  const DWORD units = size / unit;
  if (units < 2 || !OneIn(shortenOneIn_)) return size;
  ++shortened_;
  return unit * static_cast<DWORD>(1 + Below(units - 1));
}

}  // namespace win32::testing
