// Where bytes live. A place is a byte range of one piece of storage: a whole block device, named
// by its device number, or a regular file, named by its file system and inode. The bytes of a
// partition device lie on its parent disk, and those of a loop device in its backing file, so one
// path has several places, and two paths share bytes when any of their places overlap.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestro::posix {

struct StorageId {
  bool isFile = false;  // a regular file rather than a whole block device
  dev_t device = 0;     // the whole disk's device number, or the file's file system
  ino_t inode = 0;      // the file's inode; 0 for a block device

  bool operator==(const StorageId&) const = default;
};

struct StoragePlace {
  StorageId storage;
  uint64_t start = 0;  // where the named object's byte 0 lies in the storage
  uint64_t end = 0;    // where the named object's bytes end in the storage
  std::string file;    // a path the storage opens by, for regular files
};

// Every place of the block device or regular file at `path`.
std::vector<StoragePlace> PlacesOfPath(const std::string& path);

// Every place of block device `device`.
std::vector<StoragePlace> PlacesOfDevice(dev_t device);

// Every place of the block device or regular file open on `fd`.
std::vector<StoragePlace> PlacesOfOpenFile(int fd);

// The places of bytes [offset, offset + length) of the object `places` describe; a length of
// UINT64_MAX reaches to its end.
std::vector<StoragePlace> Narrow(const std::vector<StoragePlace>& places, uint64_t offset,
                                 uint64_t length);

// The regular file of `place`, opened with `flags` once it is proven to be that file: its name is
// only where the kernel last saw it (a loop device's backing file may since have been removed and
// the name given to a link elsewhere). -1 with errno set; ESTALE when the name leads elsewhere.
int OpenPlaceFile(const StoragePlace& place, int flags);

// Whether a range of `a` and a range of `b` on the same storage overlap.
bool Overlap(const std::vector<StoragePlace>& a, const std::vector<StoragePlace>& b);

}  // namespace kestro::posix
