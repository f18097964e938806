// Byte ranges the commands move data from and to: the volume through its CKestro32 object, a
// byte range of a disk through \\.\PHYSICALDRIVEn (the partition's tail), and images.
#pragma once

#include <Kestro32.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image_format.h"

namespace kestro::cli {

// A device range read and written at absolute offsets. Errors come back as Win32 codes, so that
// a caller can retry (rescue) or put them into words.
class ByteRange {
 public:
  virtual ~ByteRange() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly `length` bytes at `offset`; ERROR_SUCCESS or the failure's code.
  virtual win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
  // Like ReadAt, but `*data` gets where the bytes are: in `buffer`, or in a buffer of the range's
  // own that stays valid until the range's next call.
  virtual win32::DWORD ReadView(uint64_t offset, size_t length, void* buffer, const void** data) {
    *data = buffer;
    return ReadAt(offset, buffer, length);
  }
  // True for a range that is all zeros and need not be read.
  virtual bool ReadsAsZeros() const { return false; }
};

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

// An image's bytes read at absolute offsets; failures throw Failure naming the image and the
// offset. A file is read anywhere; a stream (standard input, a compressed image) is read front
// to back: a read may skip forward, and a read further back starts a compressed file over.
class ImageReader {
 public:
  virtual ~ImageReader() = default;
  virtual uint64_t size() const = 0;
  virtual void ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  // "zstd" for a compressed image, "none" for raw bytes, as the sidecar records it.
  virtual const char* compression() const { return "none"; }
  // True when the image carries checksums of its own bytes, which reading it checks.
  virtual bool checksummed() const { return false; }
  // The file the image is read from; nothing for standard input.
  const std::optional<FileIdentity>& file() const { return file_; }
  void set_file(const FileIdentity& file) { file_ = file; }
  // After the last byte has been read: fails unless the image ends there, having checked what a
  // stream keeps after its data (a compressed image's checksum).
  virtual void ReadEnd() {}

 private:
  std::optional<FileIdentity> file_;
};

// Part of an image: the first `length` bytes of a range, placed at `imageOffset` in the image.
struct Segment {
  ByteRange* range = nullptr;
  uint64_t length = 0;
  uint64_t imageOffset = 0;
};

uint64_t TotalLength(const std::vector<Segment>& segments);

// The thread's last Win32 error, or `fallback` when the failing call left none.
win32::DWORD LastErrorOr(win32::DWORD fallback);

}  // namespace kestro::cli
