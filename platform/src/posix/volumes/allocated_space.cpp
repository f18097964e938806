#include "volumes/allocated_space.h"

#include <ondisk/fat.h>
#include <ondisk/ntfs.h>

#include "storage/byte_readers.h"

namespace kestro::posix {
namespace {

namespace ondisk = kestro::ondisk;

std::optional<VolumeSpace> SpaceOf(const ondisk::Result<ondisk::AllocationMap>& map) {
  if (!map) return std::nullopt;
  return VolumeSpace{map->clusterCount * map->clusterBytes, map->freeClusters * map->clusterBytes,
                     static_cast<uint32_t>(map->clusterBytes)};
}

}  // namespace

std::optional<VolumeSpace> CountFatSpace(const VolumeWindow& volume) {
  return SpaceOf(
      ondisk::ReadFatAllocation(VolumeWindowReader(volume), ondisk::RunDetail::kCountOnly));
}

std::optional<VolumeSpace> CountNtfsSpace(const VolumeWindow& volume) {
  return SpaceOf(
      ondisk::ReadNtfsAllocation(VolumeWindowReader(volume), ondisk::RunDetail::kCountOnly));
}

}  // namespace kestro::posix
