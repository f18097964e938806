#include "fat_volume.h"

#include <algorithm>
#include <vector>

#include "fat_boot_sector.h"
#include "little_endian.h"

namespace kestro::posix {
namespace {

constexpr uint32_t kMaxFat32Clusters = 0x0FFFFFF5 - 2;
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
constexpr uint32_t kFirstDataCluster = 2;
// A multiple of 2, 3 and 4 bytes, so that no FAT entry straddles two chunks.
constexpr size_t kChunkBytes = 12 * 64 * 1024;

struct FatLayout {
  uint32_t clusterBytes = 0;
  uint64_t fatOffset = 0;     // byte offset of the first FAT in the volume
  uint32_t clusterCount = 0;  // data clusters, numbered from 2
  unsigned entryBits = 0;     // 12, 16 or 32
};

// The layout the boot sector describes, when it is self-consistent and its first FAT lies inside
// the volume.
std::optional<FatLayout> LayoutOf(const uint8_t* sector, uint64_t volumeLength) {
  const auto boot = ParseFatBootSector(sector);
  if (!boot || boot->clusterCount == 0 || boot->clusterCount > kMaxFat32Clusters) {
    return std::nullopt;
  }
  FatLayout layout;
  layout.clusterBytes = uint32_t{boot->bytesPerSector} * boot->sectorsPerCluster;
  layout.fatOffset = boot->reservedSectors * boot->bytesPerSector;
  layout.clusterCount = static_cast<uint32_t>(boot->clusterCount);
  layout.entryBits = boot->fatBits;
  const uint64_t entryBytes = ((boot->clusterCount + kFirstDataCluster) * layout.entryBits + 7) / 8;
  const uint64_t fatBytes = boot->fatSectors * boot->bytesPerSector;
  if (entryBytes > fatBytes || layout.fatOffset > volumeLength ||
      fatBytes > volumeLength - layout.fatOffset) {
    return std::nullopt;
  }
  return layout;
}

uint32_t EntryAt(const uint8_t* chunk, uint64_t indexInChunk, unsigned entryBits) {
  switch (entryBits) {
    case 12: {
      const uint8_t* pair = chunk + indexInChunk * 3 / 2;
      const uint32_t both = pair[0] | uint32_t{pair[1]} << 8;
      return (indexInChunk & 1) ? both >> 4 : both & 0x0FFF;
    }
    case 16:
      return static_cast<uint32_t>(LittleEndian(chunk + indexInChunk * 2, 2));
    default:
      return LittleEndian32(chunk + indexInChunk * 4) & kFat32EntryMask;
  }
}

// Counts the free data clusters, reading the first FAT a chunk at a time.
std::optional<uint64_t> CountFreeClusters(const VolumeWindow& volume, const FatLayout& layout) {
  const uint64_t entryCount = uint64_t{layout.clusterCount} + kFirstDataCluster;
  const uint64_t fatBytes = (entryCount * layout.entryBits + 7) / 8;
  std::vector<uint8_t> chunk(kChunkBytes);
  uint64_t free = 0;
  for (uint64_t at = 0; at < fatBytes; at += kChunkBytes) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, fatBytes - at));
    if (!volume.Read(layout.fatOffset + at, chunk.data(), length)) return std::nullopt;
    const uint64_t first = at * 8 / layout.entryBits;
    const uint64_t end = std::min(entryCount, (at + length) * 8 / layout.entryBits);
    for (uint64_t index = std::max<uint64_t>(first, kFirstDataCluster); index < end; ++index) {
      if (EntryAt(chunk.data(), index - first, layout.entryBits) == 0) ++free;
    }
  }
  return free;
}

}  // namespace

std::optional<VolumeSpace> CountFatSpace(const VolumeWindow& volume) {
  uint8_t boot[kBootSectorSize];
  if (!volume.Read(0, boot, sizeof boot)) return std::nullopt;
  const auto layout = LayoutOf(boot, volume.length());
  if (!layout) return std::nullopt;
  const auto free = CountFreeClusters(volume, *layout);
  if (!free) return std::nullopt;
  return VolumeSpace{uint64_t{layout->clusterCount} * layout->clusterBytes,
                     *free * layout->clusterBytes, layout->clusterBytes};
}

}  // namespace kestro::posix
