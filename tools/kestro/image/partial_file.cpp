#include "image/partial_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// Creating, locking and replacing race with another backup at most a few times before one wins.
constexpr int kClaimAttempts = 3;

// True when `name` still names the file open on `fd`.
bool StillNamed(int fd, const ImageFolder& folder, const std::string& name) {
  struct stat open {
  }, named{};
  return fstat(fd, &open) == 0 && folder.Status(name, &named) && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

[[noreturn]] void RefuseRunning(const std::string& path) {
  throw Failure(path, "a backup to the same image is running (it holds this file's lock)");
}

// Removes a partial file whose writer has gone; refuses one whose writer still runs.
void RemoveStale(const ImageFolder& folder, const std::string& name) {
  const std::string path = folder.PathOf(name);
  const int fd = folder.Open(name, O_RDONLY | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return;
  if (fd < 0 && errno != ELOOP) throw Failure(path, "cannot open: " + DescribeErrno(errno));
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    throw Failure(path, "not a regular file; an image is written to a file");
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    RefuseRunning(path);
  }
  if (StillNamed(fd, folder, name)) folder.Remove(name);
  close(fd);
}

}  // namespace

int ClaimPartialFile(const ImageFolder& folder, const std::string& name, mode_t mode) {
  const std::string path = folder.PathOf(name);
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    const int fd = folder.Create(name, mode);
    if (fd >= 0) {
      // Another backup may have locked the new file before this one did, taking it for stale.
      if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, folder, name)) return fd;
      close(fd);
      RefuseRunning(path);
    }
    if (errno != EEXIST) throw Failure(path, "cannot create: " + DescribeErrno(errno));
    RemoveStale(folder, name);
  }
  RefuseRunning(path);
}

}  // namespace kestro::cli
