#include "ioctl/device_control.h"

#include <win32/errors.h>
#include <win32/kernel32.h>
#include <win32/winioctl.h>

#include "errno_map.h"
#include "ioctl/control_buffer.h"
#include "ioctl/device_number.h"
#include "ioctl/disk_geometry.h"
#include "ioctl/disk_geometry_ex.h"
#include "ioctl/drive_layout.h"
#include "ioctl/ntfs_volume_data.h"
#include "ioctl/partition_records.h"
#include "ioctl/volume_extents.h"
#include "storage/volume_safety.h"

namespace kestro::posix {
namespace {

constexpr DWORD kFileReadAccess = 1;
constexpr DWORD kFileWriteAccess = 2;

// A control code carries the access it needs in bits 14 and 15; the I/O manager refuses the
// request on a handle opened without it, and write-protected media refuse what would write.
DWORD AccessError(const OpenObject& object, DWORD code) {
  const DWORD required = (code >> 14) & 3;
  if ((required & kFileReadAccess) && !object.canRead) return ERROR_ACCESS_DENIED;
  if ((required & kFileWriteAccess) && !object.canWrite) return object.writeRefusal;
  return ERROR_SUCCESS;
}

BOOL Dispatch(OpenObject& object, DWORD code, LPVOID in, DWORD inSize, ControlBuffer& output) {
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
      return AnswerGeometry(object, output);
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
      return AnswerGeometryEx(object, output);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      return AnswerDeviceNumber(object, output);
    case IOCTL_DISK_GET_LENGTH_INFO:
      return AnswerLengthInfo(object, output);
    case IOCTL_DISK_GET_PARTITION_INFO:
      return AnswerPartitionInfo(object, output);
    case IOCTL_DISK_GET_PARTITION_INFO_EX:
      return AnswerPartitionInfoEx(object, output);
    case IOCTL_DISK_SET_PARTITION_INFO:
      return SetPartitionType(object, in, inSize);
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
      return AnswerDriveLayout(object, output);
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
      return AnswerLegacyDriveLayout(object, output);
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
      return AnswerDiskExtents(object, output);
    case FSCTL_LOCK_VOLUME:
      return LockVolume(object);
    case FSCTL_UNLOCK_VOLUME:
      return UnlockVolume(object);
    case FSCTL_DISMOUNT_VOLUME:
      return DismountVolume(object);
    case FSCTL_GET_NTFS_VOLUME_DATA:
      return AnswerNtfsVolumeData(object, output);
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

}  // namespace

BOOL ControlDevice(OpenObject& object, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                   DWORD outSize, LPDWORD returned) {
  if (returned) *returned = 0;
  // Plain files have no disk or volume underneath them to answer for.
  if (object.kind != ObjectKind::kVolume && object.kind != ObjectKind::kDisk) {
    return Fail(ERROR_INVALID_FUNCTION);
  }
  if (const DWORD error = AccessError(object, code)) return Fail(error);
  if ((in == nullptr && inSize > 0) || (out == nullptr && outSize > 0)) {
    return Fail(ERROR_NOACCESS);
  }
  ControlBuffer output{out, outSize};
  const BOOL result = Dispatch(object, code, in, inSize, output);
  if (returned) *returned = output.written;
  if (result) SetLastError(ERROR_SUCCESS);
  return result;
}

}  // namespace kestro::posix
