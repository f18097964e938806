// What an image file holds. The image is the partition's bytes in order: first the volume's own
// bytes (the range CKestro32 addresses, so that this part equals `dd` of the volume), then the
// partition's tail, the sectors beyond the volume (NTFS keeps its backup boot sector in the last
// one). Beside the image, "<image>.kestro" (JSON) says where the volume ends and records the
// source and digest. An image without that file, such as one made with dd, is volume bytes only.
#pragma once

#include <cstdint>
#include <string>

namespace kestro::cli {

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
  bool rescue = false;   // made with --rescue: unreadable sectors are zeros in the image
  bool complete = true;  // false while a backup replaces the image this sidecar stood beside
  std::string compression = "none";  // "zstd": the file is a zstd stream of the image
};

std::string SidecarPath(const std::string& image);

// The sidecar's JSON text.
std::string SidecarText(const ImageLayout& layout);

// Replaces the sidecar as a whole (a reader never sees part of one); throws Failure when it
// cannot, leaving the previous sidecar in place.
void WriteSidecar(const std::string& image, const ImageLayout& layout);

// The layout of `image`, `imageSize` bytes long: from its sidecar when there is one, otherwise
// the whole file as volume bytes. Throws Failure when the sidecar cannot be read or disagrees
// with the file's size, or is not a regular file.
ImageLayout ReadImageLayout(const std::string& image, uint64_t imageSize);

}  // namespace kestro::cli
