#include "ioctl/device_number.h"

#include <win32/errors.h>
#include <win32/winioctl.h>

#include "ioctl/partition_records.h"

namespace kestro::posix {
namespace {

int DiskNumberOf(const OpenObject& object) {
  if (object.kind == ObjectKind::kVolume && object.volume) return object.volume->disk.number;
  return object.disk ? object.disk->number : -1;
}

}  // namespace

BOOL AnswerDeviceNumber(const OpenObject& object, ControlBuffer& output) {
  if (!output.Require(sizeof(STORAGE_DEVICE_NUMBER))) return FALSE;
  const int disk = DiskNumberOf(object);
  if (disk < 0) return Fail(ERROR_INVALID_FUNCTION);
  auto view = ViewPartition(object);
  if (!view) return FALSE;
  STORAGE_DEVICE_NUMBER number{};
  number.DeviceType = FILE_DEVICE_DISK;
  number.DeviceNumber = static_cast<DWORD>(disk);
  number.PartitionNumber = view->entry.number;
  return output.Put(number);
}

}  // namespace kestro::posix
