#include "ioctl/disk_geometry_ex.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include <win32/winioctl.h>

#include "ioctl/disk_geometry.h"
#include "ioctl/partition_layout.h"

namespace kestro::posix {
namespace {

// DISK_GEOMETRY_EX with its variable part spelled out, as the disk driver fills it.
struct FullGeometry {
  DISK_GEOMETRY Geometry;
  LARGE_INTEGER DiskSize;
  DISK_PARTITION_INFO Partition;
  DISK_DETECTION_INFO Detection;
};
static_assert(offsetof(FullGeometry, Partition) == offsetof(DISK_GEOMETRY_EX, Data));
static_assert(sizeof(FullGeometry) == 112);

DISK_PARTITION_INFO PartitionInfoOf(const DiskLayout& layout) {
  DISK_PARTITION_INFO info{};
  info.SizeOfPartitionInfo = sizeof info;
  info.PartitionStyle = layout.style;
  if (layout.style == PARTITION_STYLE_GPT) {
    info.Gpt.DiskId = layout.gptDiskId;
  } else if (layout.style == PARTITION_STYLE_MBR) {
    info.Mbr.Signature = layout.mbrSignature;
    info.Mbr.CheckSum = layout.mbrCheckSum;
  }
  return info;
}

}  // namespace

BOOL AnswerGeometryEx(const OpenObject& object, ControlBuffer& output) {
  if (!output.Require(offsetof(DISK_GEOMETRY_EX, Data))) return FALSE;
  auto disk = DiskAccess::Open(object);
  if (!disk) return FALSE;
  auto layout = ReadDiskLayout(*disk);
  if (!layout) return FALSE;
  FullGeometry full{};
  full.Geometry = GeometryOf(*disk);
  full.DiskSize.QuadPart = static_cast<LONGLONG>(disk->size());
  full.Partition = PartitionInfoOf(*layout);
  // No BIOS reported these disks, so Windows has no detection figures to give.
  full.Detection.SizeOfDetectInfo = sizeof full.Detection;
  full.Detection.DetectionType = DetectNone;
  const size_t bytes = std::min<size_t>(output.size, sizeof full);
  std::memcpy(output.data, &full, bytes);
  output.written = static_cast<DWORD>(bytes);
  return TRUE;
}

}  // namespace kestro::posix
