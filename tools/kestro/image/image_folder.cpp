#include "image/image_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/caller_path.h"
#include "support/errors.h"

namespace kestro::cli {

ImageFolder::ImageFolder(const std::string& image) {
  const std::filesystem::path path(image);
  folder_ = path.parent_path().string();
  image_ = path.filename().string();
  if (image_.empty() || image_ == "." || image_ == "..") {
    throw Failure(image, "names a folder; give the image file's name in it");
  }
  fd_ = OpenAsCaller(folder_.empty() ? "." : folder_, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::string shown = folder_.empty() ? "." : folder_;
  if (fd_ < 0) throw Failure(shown, "cannot open the folder: " + DescribeErrno(errno));
  // Where others may rename and remove what kestro made, a checked name proves nothing.
  struct stat st {};
  if (fstat(fd_, &st) != 0 || ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0)) {
    close(fd_);
    throw Failure(shown,
                  "may be written by every user and lacks the sticky bit; choose a folder "
                  "others cannot change");
  }
}

ImageFolder::~ImageFolder() {
  close(fd_);
}

std::string ImageFolder::PathOf(const std::string& name) const {
  return folder_.empty() ? name : (std::filesystem::path(folder_) / name).string();
}

int ImageFolder::Create(const std::string& name, mode_t mode) const {
  const int fd =
      openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0 || fchmod(fd, mode) == 0) return fd;
  const int error = errno;
  close(fd);
  unlinkat(fd_, name.c_str(), 0);
  errno = error;
  return -1;
}

int ImageFolder::Open(const std::string& name, int flags) const {
  return openat(fd_, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

bool ImageFolder::Status(const std::string& name, struct stat* st) const {
  return fstatat(fd_, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ImageFolder::Leads(const std::string& name, uint64_t device, uint64_t inode) const {
  struct stat st {};
  return fstatat(fd_, name.c_str(), &st, 0) == 0 && static_cast<uint64_t>(st.st_dev) == device &&
         static_cast<uint64_t>(st.st_ino) == inode;
}

void ImageFolder::RequireFileOrAbsent(const std::string& name) const {
  struct stat st {};
  if (!Status(name, &st)) return;
  if (S_ISLNK(st.st_mode)) {
    throw Failure(PathOf(name), "is a symbolic link; kestro neither follows nor replaces one here");
  }
  if (!S_ISREG(st.st_mode)) {
    throw Failure(PathOf(name),
                  "not a regular file; kestro reads and writes only regular files here");
  }
}

void ImageFolder::Remove(const std::string& name) const {
  unlinkat(fd_, name.c_str(), 0);
}

void ImageFolder::Rename(const std::string& from, const std::string& to) const {
  if (renameat(fd_, from.c_str(), fd_, to.c_str()) != 0) {
    throw Failure(PathOf(to),
                  "cannot put " + PathOf(from) + " in its place: " + DescribeErrno(errno));
  }
}

void ImageFolder::Sync() const {
  if (fsync(fd_) != 0) {
    const std::string name = folder_.empty() ? "." : folder_;
    throw Failure(name, "cannot flush the folder: " + DescribeErrno(errno));
  }
}

}  // namespace kestro::cli
