// The folder an image is mounted on, opened once: the mount and its undoing reach that very
// folder through its descriptor, so nobody who can rename or relink the path the caller named
// can move the mount onto another folder or a file.
#pragma once

#include <string>

namespace kestro::cli {

class MountFolder {
 public:
  // Opens `path` as the caller names it; throws Failure unless it is an empty folder.
  explicit MountFolder(const std::string& path);
  ~MountFolder();
  MountFolder(const MountFolder&) = delete;
  MountFolder& operator=(const MountFolder&) = delete;

  // The path to give the mount: the descriptor itself for root, whose mount(2) follows it; a
  // user's mount goes through fusermount3, which checks the folder for that user on its own.
  std::string MountPoint() const;
  const std::string& name() const { return name_; }

 private:
  int fd_ = -1;
  std::string name_;
};

}  // namespace kestro::cli
