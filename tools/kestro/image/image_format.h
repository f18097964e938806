// What an image file holds. The image is the partition's bytes in order: first the volume's own
// bytes (the range CKestro32 addresses, so that this part equals `dd` of the volume), then the
// partition's tail, the sectors beyond the volume (NTFS keeps its backup boot sector in the last
// one). Beside the image, "<image>.kestro" (JSON) says where the volume ends and records the
// source and digest. An image without that file, such as one made with dd, is volume bytes only.
// The sidecar also records which file it was written for (inode, size, modification time), so
// that while a backup publishes a new image beside an old one, a reader takes the sidecar that
// belongs to the image it opened: the one in place, or the new one still under its staging name.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "image/image_folder.h"

namespace kestro::cli {

// What tells one image file from another without reading it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t bytes = 0;
  int64_t modifiedNs = 0;
  uint32_t owner = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& st);

struct ImageLayout {
  uint64_t volumeBytes = 0;
  uint64_t tailBytes = 0;
  bool described = false;  // read from a sidecar file
  std::string source;      // the volume as the backup named it
  std::string fileSystem;
  uint64_t partitionOffset = 0;
  std::string hash = "none";  // "sha256", "xxh128" or "none"
  std::string digest;         // of the whole image, volume bytes and tail
  uint64_t unreadableBytes = 0;
  bool rescue = false;    // made with --rescue: unreadable sectors are zeros in the image
  bool complete = true;   // false while a backup replaces the image this sidecar stood beside
  bool usedOnly = false;  // holds only what the file system uses; the rest are holes (zeros)
  std::string compression = "none";  // "zstd": the file is a zstd stream of the image
  uint64_t zstdFrameBytes = 0;       // the image bytes in each frame of a seekable zstd stream
  std::optional<FileIdentity> file;  // the image file the sidecar was written for
};

std::string SidecarPath(const std::string& image);

// The sidecar's JSON text.
std::string SidecarText(const ImageLayout& layout);

// True when the sidecar `name` in `folder` is a regular file of `file`'s owner that says it was
// written for `file`.
bool SidecarWrittenFor(const ImageFolder& folder, const std::string& name,
                       const FileIdentity& file);

// The layout of `image`, `imageSize` bytes long once decoded, whose file is `file`: from its
// sidecar when there is one, otherwise the whole file as volume bytes. A sidecar written for
// another file gives way to the staged one ("IMAGE.partial.kestro") when that one was written for
// this file and has its owner. The sidecar is read in the folder `image` names, which must still
// hold `file` there. Throws Failure when the sidecar cannot be read, is malformed (naming the
// field), disagrees with the image's size, is a link or not a regular file, or belongs to neither
// the image's owner nor root.
ImageLayout ReadImageLayout(const std::string& image, uint64_t imageSize, const FileIdentity& file);

}  // namespace kestro::cli
