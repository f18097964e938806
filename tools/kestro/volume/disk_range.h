#pragma once

#include <memory>

#include "support/byte_range.h"

namespace kestro::cli {

// `length` bytes of disk `number` from byte `base`, in whole sectors.
class DiskRange : public ByteRange {
 public:
  // Opens the disk; nullptr with `*error` set when it cannot be opened.
  static std::unique_ptr<DiskRange> Open(int number, uint64_t base, uint64_t length, bool writable,
                                         win32::DWORD* error);
  ~DiskRange() override;
  DiskRange(const DiskRange&) = delete;
  DiskRange& operator=(const DiskRange&) = delete;

  uint64_t size() const override { return length_; }
  win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override;
  win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) override;
  win32::DWORD Flush();

 private:
  DiskRange(win32::HANDLE disk, uint64_t base, uint64_t length)
      : disk_(disk), base_(base), length_(length) {}
  win32::DWORD MoveTo(uint64_t offset);

  win32::HANDLE disk_;
  uint64_t base_;
  uint64_t length_;
};

}  // namespace kestro::cli
