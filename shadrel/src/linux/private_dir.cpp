#include "private_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace shadrel::linux_snapshots {

std::string WithErrno(const std::string& text) {
  return text + ": " + std::strerror(errno);
}

bool EnsurePrivateDir(const std::string& path, std::string& reason) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    reason = WithErrno("cannot create " + path);
    return false;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    reason = WithErrno("cannot examine " + path);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    reason = path + " is not a private folder of this user (mode 0700)";
    return false;
  }
  return true;
}

}  // namespace shadrel::linux_snapshots
