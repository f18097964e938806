#include "ioctl/volume_extents.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace kestro::posix {
namespace {

constexpr size_t kExtentsOffset = offsetof(VOLUME_DISK_EXTENTS, Extents);

}  // namespace

BOOL PutDiskExtents(std::span<const DISK_EXTENT> extents, ControlBuffer& output) {
  if (output.size < sizeof(VOLUME_DISK_EXTENTS)) return Fail(ERROR_INVALID_PARAMETER);
  auto* out = static_cast<unsigned char*>(output.data);
  std::memset(out, 0, kExtentsOffset);
  const DWORD count = static_cast<DWORD>(extents.size());
  std::memcpy(out, &count, sizeof count);
  const size_t room = (output.size - kExtentsOffset) / sizeof(DISK_EXTENT);
  const size_t filled = std::min(room, extents.size());
  std::memcpy(out + kExtentsOffset, extents.data(), filled * sizeof(DISK_EXTENT));
  output.written =
      static_cast<DWORD>(kExtentsOffset + std::max<size_t>(filled, 1) * sizeof(DISK_EXTENT));
  return filled == extents.size() ? TRUE : Fail(ERROR_MORE_DATA);
}

BOOL AnswerDiskExtents(const OpenObject& object, ControlBuffer& output) {
  if (object.kind != ObjectKind::kVolume || !object.volume) return Fail(ERROR_INVALID_FUNCTION);
  const VolumeTarget& volume = *object.volume;
  DISK_EXTENT extent{};
  extent.DiskNumber = static_cast<DWORD>(volume.disk.number);
  extent.StartingOffset.QuadPart = static_cast<LONGLONG>(volume.diskOffset);
  extent.ExtentLength.QuadPart = static_cast<LONGLONG>(volume.length);
  return PutDiskExtents(std::span<const DISK_EXTENT>(&extent, 1), output);
}

}  // namespace kestro::posix
