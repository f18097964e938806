// Where a drive's bytes live, for a snapshot requester that must copy or freeze that storage,
// and the device objects (\\?\GLOBALROOT\Device\<name>) through which it presents a snapshot.
// POSIX builds only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <win32/platform_api.h>
#include <win32/types.h>

namespace kestro {

// A volume as a byte window of a file or block device, with the disk it lies on.
struct VolumeStorage {
  std::string path;              // the file or block device transfers go to
  uint64_t offset = 0;           // start of the volume in `path`
  uint64_t length = 0;           // bytes in the volume
  std::string diskPath;          // the disk image or whole-disk device the volume lies on
  int diskNumber = -1;           // n of \\.\PHYSICALDRIVEn, or -1 for none
  uint64_t diskOffset = 0;       // start of the volume on that disk
  unsigned partitionNumber = 0;  // 0 for a whole disk or a bare volume image
};

// A byte of a regular file, open read-only on `fd`, which the receiver closes; `path` is where
// the kernel last saw the file, for messages.
struct FilePosition {
  std::string path;
  uint64_t offset = 0;
  int fd = -1;
};

// A mounted file system and the block device it is mounted from.
struct MountedFileSystem {
  std::string mountPoint;
  std::string device;  // empty when the source is no block device
};

// A device-mapper device: its name ("<group>-<volume>" for a logical volume) and its uuid
// ("LVM-..." for a logical volume).
struct MappedDevice {
  std::string name;
  std::string uuid;
};

// The storage of drive `letter`; nullopt with *error set as opening \\.\X: would set it.
KESTROPLAT_API std::optional<VolumeStorage> LocateDriveStorage(char letter, win32::DWORD* error);

// The regular file holding byte `offset` of the file or block device at `path`: the file itself,
// or the backing file of a loop device (or of the loop device a partition lies on), opened once it
// is proven to be that file; `fd` is -1 with errno set when it cannot be. Nullopt for storage no
// file holds.
KESTROPLAT_API std::optional<FilePosition> BackingFileOf(const std::string& path, uint64_t offset);

// The file systems mounted from any byte of the file or device at `path`.
KESTROPLAT_API std::vector<MountedFileSystem> MountsWithin(const std::string& path);

// What device-mapper says of the block device at `path`; nullopt for anything it does not map.
KESTROPLAT_API std::optional<MappedDevice> DeviceMapperOf(const std::string& path);

// Publishes `storage` as a volume device \\?\GLOBALROOT\Device\<prefix><n> and returns its
// name ("<prefix><n>"), unique in this process. CreateFileW opens it like \\.\X:.
// `onLastClose`, when given, runs once the name is withdrawn and no handle opened through it is
// open any more: within WithdrawDeviceObject when none is, else as the last one closes. So
// whoever keeps the storage learns when nothing can read it any longer.
KESTROPLAT_API std::string PublishDeviceObject(const std::string& prefix,
                                               const VolumeStorage& storage,
                                               std::function<void()> onLastClose = {});

// Stops `name` from resolving; handles already open on it keep working, and its storage must
// stay until they close (see PublishDeviceObject). False when it was not published.
KESTROPLAT_API bool WithdrawDeviceObject(const std::string& name);

}  // namespace kestro
