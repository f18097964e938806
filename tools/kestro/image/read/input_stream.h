// The bytes of an image file or of standard input as they come, front to back. The first bytes
// can be looked at before they are read, to tell a zstd stream by its frame header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro::cli {

class InputStream {
 public:
  // Reads `fd`, which `name` names in messages; closes it at the end when `owned`.
  InputStream(int fd, std::string name, bool owned);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  const std::string& name() const { return name_; }
  int fd() const { return fd_; }
  // Bytes read so far.
  uint64_t position() const { return position_; }

  // Up to `length` of the first bytes, without reading them; fewer when the input is shorter.
  const std::string& Peek(size_t length);

  // Up to `length` next bytes into `buffer`; 0 at the end of the input.
  size_t ReadSome(void* buffer, size_t length);

  // Back to the first byte; throws Failure for a pipe, which cannot go back.
  void Rewind();

 private:
  int fd_;
  std::string name_;
  bool owned_;
  std::string ahead_;  // bytes taken from the descriptor by Peek and not yet read
  uint64_t position_ = 0;
};

}  // namespace kestro::cli
