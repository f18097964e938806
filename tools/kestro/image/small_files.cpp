#include "image/small_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void WriteAll(int fd, const std::string& text, const std::string& path) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure(path, "cannot write: " + DescribeErrno(n < 0 ? errno : ENOSPC));
    done += static_cast<size_t>(n);
  }
}

[[noreturn]] void RefuseNotRegular(const std::string& path) {
  throw Failure(path, "not a regular file; kestro reads and writes only regular files here");
}

}  // namespace

std::string StagingPath(const std::string& path) {
  return path + ".partial";
}

void RequireRegularOrAbsent(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) RefuseNotRegular(path);
}

void WriteNewFile(const ImageFolder& folder, const std::string& name, const std::string& text,
                  mode_t mode) {
  const std::string path = folder.PathOf(name);
  folder.Remove(name);
  const FileDescriptor fd(folder.Create(name, mode));
  if (fd.get() < 0) throw Failure(path, "cannot create: " + DescribeErrno(errno));
  try {
    WriteAll(fd.get(), text, path);
    if (fsync(fd.get()) != 0) throw Failure(path, "cannot flush: " + DescribeErrno(errno));
  } catch (const Failure&) {
    folder.Remove(name);
    throw;
  }
}

std::optional<std::string> ReadSmallFile(const ImageFolder& folder, const std::string& name,
                                         uid_t* owner) {
  // A device is not even opened: opening some has effects of its own.
  folder.RequireFileOrAbsent(name);
  const std::string path = folder.PathOf(name);
  const FileDescriptor fd(folder.Open(name, O_RDONLY | O_NONBLOCK));
  if (fd.get() < 0 && errno == ENOENT) return std::nullopt;
  if (fd.get() < 0) throw Failure(path, "cannot open: " + DescribeErrno(errno));
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) RefuseNotRegular(path);
  if (owner != nullptr) *owner = st.st_uid;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(path, "cannot read: " + DescribeErrno(errno));
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace kestro::cli
