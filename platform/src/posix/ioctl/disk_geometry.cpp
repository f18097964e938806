#include "ioctl/disk_geometry.h"

#include <linux/hdreg.h>
#include <sys/ioctl.h>

namespace kestro::posix {
namespace {

constexpr DWORD kVirtualHeads = 255;
constexpr DWORD kVirtualSectorsPerTrack = 63;

}  // namespace

DISK_GEOMETRY GeometryOf(const DiskAccess& disk) {
  DISK_GEOMETRY geometry{};
  geometry.MediaType = disk.facts().removable ? RemovableMedia : FixedMedia;
  geometry.BytesPerSector = disk.sectorSize();
  geometry.TracksPerCylinder = kVirtualHeads;
  geometry.SectorsPerTrack = kVirtualSectorsPerTrack;
  hd_geometry reported{};
  if (disk.facts().isBlockDevice && ioctl(disk.fd(), HDIO_GETGEO, &reported) == 0 &&
      reported.heads != 0 && reported.sectors != 0) {
    geometry.TracksPerCylinder = reported.heads;
    geometry.SectorsPerTrack = reported.sectors;
  }
  const uint64_t cylinderBytes =
      uint64_t{geometry.TracksPerCylinder} * geometry.SectorsPerTrack * geometry.BytesPerSector;
  geometry.Cylinders.QuadPart = static_cast<LONGLONG>(disk.size() / cylinderBytes);
  return geometry;
}

BOOL AnswerGeometry(const OpenObject& object, ControlBuffer& output) {
  if (!output.Require(sizeof(DISK_GEOMETRY))) return FALSE;
  auto disk = DiskAccess::Open(object);
  return disk ? output.Put(GeometryOf(*disk)) : FALSE;
}

BOOL AnswerLengthInfo(const OpenObject& object, ControlBuffer& output) {
  GET_LENGTH_INFORMATION info{};
  info.Length.QuadPart = static_cast<LONGLONG>(object.length);
  return output.Put(info);
}

}  // namespace kestro::posix
