// Which file system a volume holds, as libblkid identifies it from the volume itself.
#pragma once

#include <string>

#include "storage/volume_window.h"

namespace kestro::posix {

using namespace win32;

enum class FileSystemKind {
  kNone,   // nothing libblkid recognises
  kFat,    // FAT12 or FAT16
  kFat32,  // a FAT volume whose 16-bit sectors-per-FAT field is 0
  kNtfs,
  kExfat,
  kOther,  // a file system Windows cannot read (ext4, XFS, ...)
};

struct FileSystemIdentity {
  FileSystemKind kind = FileSystemKind::kNone;
  std::string label;  // UTF-8, as the file system stores it
};

FileSystemIdentity IdentifyFileSystem(const VolumeWindow& volume);

}  // namespace kestro::posix
