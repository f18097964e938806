// An open file descriptor, closed when it goes out of scope, and the name of what one holds.
#pragma once

#include <unistd.h>

#include <climits>
#include <string>

namespace shadrel::linux_snapshots {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The name the file that `path` reaches has now, when `path` is a descriptor's
// (/proc/self/fd/N); `path` itself otherwise, or when the kernel gives no name.
inline std::string CurrentName(const std::string& path) {
  if (path.rfind("/proc/self/fd/", 0) != 0) return path;
  char name[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), name, sizeof name);
  return n > 0 && name[0] == '/' ? std::string(name, static_cast<size_t>(n)) : path;
}

}  // namespace shadrel::linux_snapshots
