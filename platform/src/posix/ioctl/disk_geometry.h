// The geometry Windows reports for a disk, and the length of a volume or disk.
#pragma once

#include <win32/winioctl.h>

#include "ioctl/control_buffer.h"
#include "storage/disk_access.h"

namespace kestro::posix {

using namespace win32;

// MediaType from the disk's removable flag, BytesPerSector its logical sector size, heads and
// sectors per track from HDIO_GETGEO where the driver answers it, otherwise the 255 heads and 63
// sectors Windows gives virtual disks; cylinders always from the size.
DISK_GEOMETRY GeometryOf(const DiskAccess& disk);

// IOCTL_DISK_GET_DRIVE_GEOMETRY: a volume handle answers with its disk's geometry.
BOOL AnswerGeometry(const OpenObject& object, ControlBuffer& output);

// IOCTL_DISK_GET_LENGTH_INFO: the length of the volume or the disk the handle stands for.
BOOL AnswerLengthInfo(const OpenObject& object, ControlBuffer& output);

}  // namespace kestro::posix
