#include "used/image_spans.h"

#include <Kestro32.h>

#include <limits>

#include "volume/file_system_name.h"

namespace kestro::cli {
namespace {

// The file-system code whose name the sidecar records.
unsigned FileSystemCodeNamed(const std::string& name) {
  for (unsigned code : {FSTYPE_FAT16, FSTYPE_FAT32, FSTYPE_NTFS, FSTYPE_NTFS5}) {
    if (name == FileSystemName(code)) return code;
  }
  return FSTYPE_UNKNOWN;
}

}  // namespace

std::vector<Extent> ImageSpans(ImageReader& image, const ImageLayout& layout,
                               const std::string& imagePath) {
  if (!layout.usedOnly) return {Extent{0, image.size()}};
  // An image reads any length at once.
  const RangeReader volume(image, imagePath, std::numeric_limits<size_t>::max(),
                           layout.volumeBytes);
  return UsedSpans(volume, FileSystemCodeNamed(layout.fileSystem), image.size(),
                   /*acceptUnclean=*/true, imagePath);
}

}  // namespace kestro::cli
