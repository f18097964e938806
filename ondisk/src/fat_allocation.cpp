#include <algorithm>
#include <vector>

#include "ondisk/fat.h"
#include "ondisk/little_endian.h"

namespace kestro::ondisk {
namespace {

constexpr uint64_t kMaxFat32Clusters = 0x0FFFFFF5 - 2;
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
constexpr uint64_t kFirstDataCluster = 2;
// A multiple of 2, 3 and 4 bytes, so that no FAT entry straddles two chunks.
constexpr size_t kChunkBytes = size_t{12} * 64 * 1024;

struct FatLayout {
  uint64_t clusterBytes = 0;
  uint64_t fatOffset = 0;     // byte offset of the first FAT in the volume
  uint64_t clusterCount = 0;  // data clusters, numbered from 2
  unsigned entryBits = 0;     // 12, 16 or 32
};

// The layout the boot sector describes, when its first FAT lies inside the volume.
Result<FatLayout> LayoutOf(const FatBootSector& boot, uint64_t volumeLength) {
  if (boot.clusterCount == 0 || boot.clusterCount > kMaxFat32Clusters) {
    return Error{Fault::kBadValue, "cluster count out of range"};
  }
  FatLayout layout;
  layout.clusterBytes = uint64_t{boot.bytesPerSector} * boot.sectorsPerCluster;
  layout.fatOffset = boot.reservedSectors * boot.bytesPerSector;
  layout.clusterCount = boot.clusterCount;
  layout.entryBits = boot.fatBits;
  const uint64_t entryBytes = ((boot.clusterCount + kFirstDataCluster) * layout.entryBits + 7) / 8;
  const uint64_t fatBytes = boot.fatSectors * boot.bytesPerSector;
  if (entryBytes > fatBytes)
    return Error{Fault::kBadValue, "the FAT is too small for the clusters"};
  if (!FitsWithin(layout.fatOffset, fatBytes, volumeLength)) {
    return Error{Fault::kOutOfRange, "the FAT lies beyond the volume"};
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
      return LittleEndian16(chunk + indexInChunk * 2);
    default:
      return LittleEndian32(chunk + indexInChunk * 4) & kFat32EntryMask;
  }
}

// Whether an entry is free (0), the next cluster of a chain, or one of the top sixteen values
// of its width (reserved, bad cluster, end of chain); anything else points nowhere.
bool IsValidEntry(uint32_t entry, const FatLayout& layout) {
  const unsigned width = std::min(layout.entryBits, 28u);  // FAT32 entries keep 28 bits
  const uint32_t firstMarker = ((uint32_t{1} << width) - 1) & ~uint32_t{0xF};
  const bool nextCluster =
      entry >= kFirstDataCluster && entry < layout.clusterCount + kFirstDataCluster;
  return entry == 0 || nextCluster || entry >= firstMarker;
}

// Reads the first FAT a chunk at a time, reporting each data cluster to `tally`.
Status Walk(const ByteReader& volume, const FatLayout& layout, AllocationTally& tally) {
  const uint64_t entryCount = layout.clusterCount + kFirstDataCluster;
  const uint64_t fatBytes = (entryCount * layout.entryBits + 7) / 8;
  std::vector<uint8_t> chunk(kChunkBytes);
  for (uint64_t at = 0; at < fatBytes; at += kChunkBytes) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, fatBytes - at));
    if (Status read = volume.Read(layout.fatOffset + at, length, chunk.data()); !read.ok()) {
      return read;
    }
    const uint64_t first = at * 8 / layout.entryBits;
    const uint64_t end = std::min(entryCount, (at + length) * 8 / layout.entryBits);
    for (uint64_t index = std::max(first, kFirstDataCluster); index < end; ++index) {
      const uint32_t entry = EntryAt(chunk.data(), index - first, layout.entryBits);
      if (!IsValidEntry(entry, layout)) {
        return Error{Fault::kOutOfRange, "a FAT entry points beyond the data clusters"};
      }
      tally.Add(index, 1, entry != 0);
    }
  }
  return {};
}

}  // namespace

Result<AllocationMap> ReadFatAllocation(const ByteReader& volume, RunDetail detail) {
  uint8_t sector[kBootSectorSize];
  if (Status read = volume.Read(0, sizeof sector, sector); !read.ok()) return read.error();
  const auto boot = ParseFatBootSector(sector);
  if (!boot) return boot.error();
  const auto layout = LayoutOf(*boot, volume.Size());
  if (!layout) return layout.error();
  AllocationTally tally(detail);
  if (Status walked = Walk(volume, *layout, tally); !walked.ok()) return walked.error();
  return tally.Finish(layout->clusterBytes, layout->clusterCount);
}

}  // namespace kestro::ondisk
