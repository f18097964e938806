// The folder an image lives in, opened once. Every file a backup creates, renames or removes
// beside its image is reached through this descriptor (openat, renameat, unlinkat, never
// following a link), so that a folder or name swapped for a link after the backup began changes
// nothing it does.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kestro::cli {

class ImageFolder {
 public:
  // Opens the folder that holds `image`; throws Failure naming it when it cannot, or when every
  // user may rename and remove files in it.
  explicit ImageFolder(const std::string& image);
  ~ImageFolder();
  ImageFolder(const ImageFolder&) = delete;
  ImageFolder& operator=(const ImageFolder&) = delete;

  // The image's own name inside the folder.
  const std::string& image() const { return image_; }
  // The path of `name` in the folder, as messages show it.
  std::string PathOf(const std::string& name) const;

  // Creates `name` for writing, exclusively, with exactly `mode` whatever the umask; -1 with
  // errno set when it cannot.
  int Create(const std::string& name, mode_t mode) const;
  // Opens an existing `name` without following a link; -1 with errno set when it cannot.
  int Open(const std::string& name, int flags) const;
  // The status of `name` itself (a link is not followed); false when there is none.
  bool Status(const std::string& name, struct stat* st) const;
  // Whether `name`, or the file a link there names, is the file `inode` on `device`.
  bool Leads(const std::string& name, uint64_t device, uint64_t inode) const;
  // Throws Failure naming `name` when it is a symbolic link or anything else but a regular file:
  // neither is followed, opened or replaced.
  void RequireFileOrAbsent(const std::string& name) const;
  void Remove(const std::string& name) const;

  // Renames `from` to `to`; throws Failure naming `to` when it cannot.
  void Rename(const std::string& from, const std::string& to) const;
  // Flushes the folder, so that its renames survive a crash; throws Failure when it cannot.
  void Sync() const;

 private:
  std::string folder_;
  std::string image_;
  int fd_ = -1;
};

}  // namespace kestro::cli
