// Where a volume's bytes live: the file or device named, and everything under it (the disk that
// holds a partition, the file behind a loop device, the devices under a mapped device), so that a
// backup can refuse to write into its own source whatever name the image is given.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

namespace kestro::cli {

class SourceStorage {
 public:
  // Resolves `path`; a path that cannot be examined contributes nothing.
  explicit SourceStorage(const std::string& path);

  // True when a file with status `st` is, or lies on, storage the source reads from.
  bool Holds(const struct stat& st) const;

 private:
  void AddPath(const std::string& path);
  void AddDevice(dev_t device);
  void AddBackingFile(const std::string& sysDevice);
  void AddDevicesListedIn(const std::string& sysDirectory);

  std::set<std::pair<dev_t, ino_t>> files_;
  std::set<dev_t> devices_;
};

}  // namespace kestro::cli
