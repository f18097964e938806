// What a snapshot requester learns about a drive's storage.
#include <win32/volume_storage.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "storage/block_device.h"
#include "storage/drive_map.h"
#include "storage/mount_table.h"
#include "storage/storage_place.h"

namespace kestro {

std::optional<VolumeStorage> LocateDriveStorage(char letter, win32::DWORD* error) {
  auto target = posix::ResolveVolume(letter, error);
  if (!target) return std::nullopt;
  return VolumeStorage{target->path,           target->offset,      target->length,
                       target->disk.path,      target->disk.number, target->diskOffset,
                       target->partitionNumber};
}

std::optional<FilePosition> BackingFileOf(const std::string& path, uint64_t offset) {
  for (const posix::StoragePlace& place : posix::Narrow(posix::PlacesOfPath(path), offset, 1)) {
    if (place.storage.isFile) {
      return FilePosition{place.file, place.start, posix::OpenPlaceFile(place, O_RDONLY)};
    }
  }
  return std::nullopt;
}

std::vector<MountedFileSystem> MountsWithin(const std::string& path) {
  return posix::MountsOverlapping(posix::PlacesOfPath(path));
}

std::optional<MappedDevice> DeviceMapperOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  const std::string sysfs = posix::SysfsDirOf(st.st_rdev);
  if (sysfs.empty()) return std::nullopt;
  auto name = posix::ReadSysfsLine(sysfs + "/dm/name");
  auto uuid = posix::ReadSysfsLine(sysfs + "/dm/uuid");
  if (!name || !uuid) return std::nullopt;
  return MappedDevice{std::move(*name), std::move(*uuid)};
}

}  // namespace kestro
