// A file in a private temporary folder that a fuzzer rewrites for every input; both go when the
// process ends normally.
#pragma once

#include <string>

namespace kestro::fuzz {

class ScratchFile {
 public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace kestro::fuzz
