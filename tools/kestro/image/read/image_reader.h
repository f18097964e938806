// The images kestro reads back: raw files, standard input, zstd streams and seekable zstd files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "image/image_format.h"
#include "support/byte_range.h"

namespace kestro::cli {

// An image's bytes read at offsets, failing as every byte range does: with a code, for which
// Explain gives the Failure that names the image and the offset. A file is read anywhere; a
// stream (standard input, a compressed image) is read front to back: a read may skip forward,
// and a read further back starts a compressed file over. Images are only read here.
class ImageReader : public ByteRange {
 public:
  win32::DWORD ReadAt(uint64_t offset, void* buffer, size_t length) final;
  win32::DWORD WriteAt(uint64_t offset, const void* buffer, size_t length) final;
  // After the last byte has been read: ERROR_SUCCESS when the image ends there, having checked
  // what a stream keeps after its data (a compressed image's checksum).
  win32::DWORD ReadEnd();
  // The image's own words for the last failure, whatever `subject` and `offset` say.
  Failure Explain(const std::string& subject, const char* transfer, uint64_t offset,
                  win32::DWORD error) const final;

  // "zstd" for a compressed image, "none" for raw bytes, as the sidecar records it.
  virtual const char* compression() const { return "none"; }
  // True when the image carries checksums of its own bytes, which reading it checks.
  virtual bool checksummed() const { return false; }
  // The file the image is read from; nothing for standard input.
  const std::optional<FileIdentity>& file() const { return file_; }
  void set_file(const FileIdentity& file) { file_ = file; }

 protected:
  // The reading itself, deep in decoders and streams, fails by throwing Failure; ReadAt and
  // ReadEnd keep that Failure for Explain and return ERROR_READ_FAULT.
  virtual void Read(uint64_t offset, void* buffer, size_t length) = 0;
  virtual void CheckEnd() {}

 private:
  // Runs `step`; a Failure it throws is kept for Explain and becomes ERROR_READ_FAULT.
  template <typename Step>
  win32::DWORD FailureAsCode(Step step);

  std::optional<FileIdentity> file_;
  mutable std::mutex failureMutex_;  // reads may fail on several threads at once (mount)
  std::optional<Failure> failure_;
};

}  // namespace kestro::cli
