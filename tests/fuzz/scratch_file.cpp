#include "scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "require.h"

namespace kestro::fuzz {

ScratchFile::ScratchFile() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestro-fuzz-XXXXXX";
  Require(mkdtemp(pattern.data()) != nullptr);
  folder_ = pattern;
  path_ = folder_ + "/image";
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  Require(fd_ >= 0);
}

ScratchFile::~ScratchFile() {
  close(fd_);
  unlink(path_.c_str());
  rmdir(folder_.c_str());
}

}  // namespace kestro::fuzz
