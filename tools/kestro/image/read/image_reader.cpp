#include "image/read/image_reader.h"

namespace kestro::cli {

using namespace win32;

template <typename Step>
DWORD ImageReader::FailureAsCode(Step step) {
  try {
    step();
    return ERROR_SUCCESS;
  } catch (const Failure& failure) {
    const std::lock_guard lock(failureMutex_);
    failure_ = failure;
    return ERROR_READ_FAULT;
  }
}

DWORD ImageReader::ReadAt(uint64_t offset, void* buffer, size_t length) {
  return FailureAsCode([&] { Read(offset, buffer, length); });
}

DWORD ImageReader::WriteAt(uint64_t, const void*, size_t) {
  return ERROR_ACCESS_DENIED;
}

DWORD ImageReader::ReadEnd() {
  return FailureAsCode([&] { CheckEnd(); });
}

Failure ImageReader::Explain(const std::string& subject, const char* transfer, uint64_t offset,
                             DWORD error) const {
  const std::lock_guard lock(failureMutex_);
  if (error == ERROR_READ_FAULT && failure_) return *failure_;
  return ByteRange::Explain(subject, transfer, offset, error);
}

}  // namespace kestro::cli
