#pragma once

#include <Kestro32.h>

#include "support/byte_range.h"

namespace kestro::cli {

// The volume as its object presents it: SeekNT to the offset, then ReadNT or WriteNT. Reads use
// the zero-copy ReadNT, which fetches exactly the sectors asked for (no read-ahead, so a retry of
// one sector touches only that sector); ReadAt copies once out of the staging buffer, ReadView
// does not. A transfer must fit the staging buffer: in-sector offset plus length at most its size.
class VolumeBytes : public ByteRange {
 public:
  explicit VolumeBytes(CKestro32& volume) : volume_(volume) {}
  uint64_t size() const override { return volume_.m_llVolumeSize; }
  win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) override;
  win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) override;
  win32::DWORD ReadView(uint64_t offset, size_t length, void* buffer, const void** data) override;

 private:
  CKestro32& volume_;
};

}  // namespace kestro::cli
