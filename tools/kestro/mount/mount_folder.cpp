#include "mount/mount_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/caller_path.h"
#include "support/errors.h"

namespace kestro::cli {
namespace {

// True when the folder open on `fd` holds nothing but "." and "..".
bool IsEmptyFolder(int fd) {
  const int listed = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* folder = listed < 0 ? nullptr : fdopendir(listed);
  if (folder == nullptr) {
    if (listed >= 0) close(listed);
    return false;
  }
  bool empty = true;
  while (const dirent* entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(folder);
  return empty;
}

}  // namespace

MountFolder::MountFolder(const std::string& path) : name_(path) {
  fd_ = OpenAsCaller(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0 && errno == ENOTDIR) throw Failure(path, "is not a folder; mount needs an empty one");
  if (fd_ < 0) throw Failure(path, "cannot open: " + DescribeErrno(errno));
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISDIR(st.st_mode)) {
    close(fd_);
    throw Failure(path, "is not a folder; mount needs an empty one");
  }
  if (!IsEmptyFolder(fd_)) {
    close(fd_);
    throw Failure(path, "is not an empty folder; mounting on it would hide what it holds");
  }
}

MountFolder::~MountFolder() {
  close(fd_);
}

std::string MountFolder::MountPoint() const {
  if (geteuid() == 0) return DescriptorPath(fd_);
  const std::unique_ptr<char, decltype(&std::free)> current(
      realpath(DescriptorPath(fd_).c_str(), nullptr), &std::free);
  if (!current) throw Failure(name_, "cannot be found again: " + DescribeErrno(errno));
  return current.get();
}

}  // namespace kestro::cli
