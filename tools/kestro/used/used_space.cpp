#include "used/used_space.h"

#include <Kestro32.h>
#include <ondisk/fat.h>
#include <ondisk/ntfs.h>

#include <algorithm>
#include <utility>

#include "support/errors.h"
#include "support/sizes.h"
#include "used/ext_allocation.h"

namespace kestro::cli {
namespace {

// NTFS keeps its boot code in the volume's first 8 KiB ($Boot).
constexpr uint64_t kNtfsBootBytes = 8192;
// FAT numbers its data clusters from 2.
constexpr uint64_t kFirstFatCluster = 2;

// Where the clusters of an allocation map lie in the volume.
struct ClusterArea {
  uint64_t start = 0;         // byte offset of the first cluster
  uint64_t firstCluster = 0;  // its number
  uint64_t headBytes = 0;     // bytes kept before the first cluster, whatever the map says
};

// A refusal caused by a failed read reports the read.
[[noreturn]] void RefuseMap(const RangeReader& volume, const std::string& subject,
                            const ondisk::Error& error) {
  volume.ThrowReadFailure();
  throw Failure(subject, std::string("has a corrupt allocation map (") + error.reason +
                             "); a used-only copy would not know which clusters to keep");
}

template <typename T>
T Checked(ondisk::Result<T> result, const RangeReader& volume, const std::string& subject) {
  if (!result) RefuseMap(volume, subject, result.error());
  return std::move(*result);
}

ClusterArea FatArea(const RangeReader& volume, const std::string& subject) {
  uint8_t sector[ondisk::kBootSectorSize];
  if (ondisk::Status read = volume.Read(0, sizeof sector, sector); !read.ok()) {
    RefuseMap(volume, subject, read.error());
  }
  const auto boot = Checked(ondisk::ParseFatBootSector(sector), volume, subject);
  const uint64_t start = boot.firstDataSector * boot.bytesPerSector;
  return ClusterArea{start, kFirstFatCluster, start};
}

bool IsFat(unsigned fsType) {
  return fsType == FSTYPE_FAT16 || fsType == FSTYPE_FAT32;
}

bool IsNtfs(unsigned fsType) {
  return fsType == FSTYPE_NTFS || fsType == FSTYPE_NTFS5;
}

}  // namespace

std::vector<Extent> UsedSpans(const RangeReader& volume, unsigned fsType, uint64_t imageBytes,
                              bool acceptUnclean, const std::string& subject) {
  if (!IsFat(fsType) && !IsNtfs(fsType) && IsExtFileSystem(volume)) {
    return ExtUsedSpans(volume, imageBytes, acceptUnclean, subject);
  }
  if (!IsFat(fsType) && !IsNtfs(fsType)) {
    volume.ThrowReadFailure();
    throw Failure(subject,
                  "holds no FAT, NTFS or ext2/3/4 file system, whose allocation maps are the only "
                  "ones --used-only reads; back it up without --used-only");
  }
  const ClusterArea area =
      IsFat(fsType) ? FatArea(volume, subject) : ClusterArea{0, 0, kNtfsBootBytes};
  const ondisk::AllocationMap map =
      Checked(IsFat(fsType) ? ondisk::ReadFatAllocation(volume, ondisk::RunDetail::kAllocatedRuns)
                            : ondisk::ReadNtfsAllocation(volume, ondisk::RunDetail::kAllocatedRuns),
              volume, subject);
  const uint64_t areaEnd = area.start + map.clusterCount * map.clusterBytes;
  if (areaEnd > volume.Size() || areaEnd > imageBytes) {
    RefuseMap(volume, subject, {ondisk::Fault::kOutOfRange, "its clusters reach past the volume"});
  }
  std::vector<Extent> spans;
  AppendSpan(spans, {0, area.headBytes});
  for (const ondisk::ClusterRun& run : map.allocated) {
    const uint64_t offset = area.start + (run.first - area.firstCluster) * map.clusterBytes;
    AppendSpan(spans, {offset, run.count * map.clusterBytes});
  }
  AppendSpan(spans, {areaEnd, imageBytes - areaEnd});
  return spans;
}

void AppendSpan(std::vector<Extent>& spans, Extent span) {
  if (span.length == 0) return;
  if (!spans.empty() && spans.back().offset + spans.back().length >= span.offset) {
    Extent& last = spans.back();
    last.length = std::max(last.offset + last.length, span.offset + span.length) - last.offset;
    return;
  }
  spans.push_back(span);
}

std::string DescribeSpans(const std::vector<Extent>& spans, uint64_t imageBytes) {
  const char* runs = spans.size() == 1 ? " run of " : " runs of ";
  return FormatBytes(TotalLength(spans)) + " in " + std::to_string(spans.size()) + runs +
         FormatBytes(imageBytes);
}

}  // namespace kestro::cli
