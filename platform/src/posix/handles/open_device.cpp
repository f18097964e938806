#include "handles/open_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <win32/errors.h>

#include "errno_map.h"
#include "handles/device_name.h"
#include "handles/device_objects.h"
#include "handles/direct_io.h"
#include "storage/block_device.h"
#include "vwin32/vwin32_device.h"

namespace kestro::posix {
namespace {

std::shared_ptr<OpenObject> Failed(DWORD error) {
  Fail(error);
  return nullptr;
}

int OpenFlagsFor(DWORD access, DWORD flags) {
  const bool read = access & GENERIC_READ;
  const bool write = access & GENERIC_WRITE;
  int mode = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  mode |= O_CLOEXEC;
  if (flags & FILE_FLAG_NO_BUFFERING) mode |= O_DIRECT;
  if (flags & FILE_FLAG_WRITE_THROUGH) mode |= O_DSYNC;
  return mode;
}

// A descriptor for a handle; a read-only one where the object refused to be opened for writing.
struct Opened {
  int fd = -1;
  bool readOnly = false;
  DWORD writeRefusal = ERROR_ACCESS_DENIED;
};

// Opens `path`, retrying without O_DIRECT where the file system refuses it.
int OpenTrying(const std::string& path, int mode) {
  int fd = open(path.c_str(), mode);
  if (fd < 0 && errno == EINVAL && (mode & O_DIRECT)) fd = open(path.c_str(), mode & ~O_DIRECT);
  return fd;
}

bool IsReadOnlyDevice(int fd) {
  int readOnly = 0;
  return ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
}

// Refusals a read-only object may give a read-write open: EROFS from a read-only file system;
// EACCES or EPERM from a read-only block device, which a lack of permission gives as well.
bool MayBeReadOnlyRefusal(int error) {
  return error == EACCES || error == EROFS || error == EPERM;
}

// Windows opens write-protected media for writing and fails the writes: where a read-write open is
// refused because the object is read-only (a read-only file system or block device), the handle
// is opened read-only and its writes fail as write-protected. A refusal for want of permission
// fails the open with access denied, as Windows' access check does.
Opened OpenDevicePath(const std::string& path, int mode) {
  Opened opened{OpenTrying(path, mode)};
  const bool writing = (mode & O_ACCMODE) != O_RDONLY;
  if (opened.fd >= 0 && writing && IsReadOnlyDevice(opened.fd)) {
    opened.readOnly = true;
    opened.writeRefusal = ERROR_WRITE_PROTECT;
  }
  const int error = errno;
  if (opened.fd >= 0 || !writing || (mode & (O_CREAT | O_TRUNC)) || !MayBeReadOnlyRefusal(error)) {
    return opened;
  }
  opened.fd = OpenTrying(path, (mode & ~O_ACCMODE) | O_RDONLY);
  if (opened.fd >= 0 && error != EROFS && !IsReadOnlyDevice(opened.fd)) {
    close(opened.fd);
    opened.fd = -1;
  }
  if (opened.fd < 0) {
    errno = error;
    return opened;
  }
  opened.readOnly = true;
  opened.writeRefusal = ERROR_WRITE_PROTECT;
  return opened;
}

std::shared_ptr<OpenObject> NewObject(ObjectKind kind, const Opened& opened, DWORD access,
                                      DWORD flags) {
  auto object = std::make_shared<OpenObject>();
  object->kind = kind;
  object->fd = opened.fd;
  object->canRead = access & GENERIC_READ;
  object->canWrite = (access & GENERIC_WRITE) && !opened.readOnly;
  object->writeRefusal = opened.writeRefusal;
  object->noBuffering = flags & FILE_FLAG_NO_BUFFERING;
  return object;
}

// Handles opened by the device names the library uses keep 512-byte alignment rules (with or
// without FILE_FLAG_NO_BUFFERING) on a device with larger sectors, where Windows would refuse such
// transfers, and their transfers are widened to whole device sectors: the library counts in
// 512-byte sectors on every device and must copy a 4096-byte-sector device byte for byte.
void LearnDeviceSectorSize(OpenObject& object) {
  int deviceSectorSize = 0;
  if (ioctl(object.fd, BLKSSZGET, &deviceSectorSize) == 0 && deviceSectorSize > 0) {
    object.deviceSectorSize = static_cast<uint32_t>(deviceSectorSize);
  }
}

std::shared_ptr<OpenObject> OpenVolumeTarget(std::optional<VolumeTarget> target, DWORD error,
                                             DWORD access, DWORD flags) {
  if (!target) return Failed(error);
  const Opened opened = OpenDevicePath(target->path, OpenFlagsFor(access, flags));
  if (opened.fd < 0) return Failed(Win32ErrorFromErrno(errno));
  auto object = NewObject(ObjectKind::kVolume, opened, access, flags);
  LearnDeviceSectorSize(*object);
  object->base = target->offset;
  object->length = target->length;
  object->volume = std::move(target);
  return object;
}

std::shared_ptr<OpenObject> OpenVolume(char letter, DWORD access, DWORD flags) {
  DWORD error = ERROR_SUCCESS;
  auto target = ResolveVolume(letter, &error);
  auto object = OpenVolumeTarget(std::move(target), error, access, flags);
  if (object) OpenDirectDescriptor(*object, false);
  return object;
}

// A device object opens like the volume it presents; a withdrawn one no longer resolves. A
// snapshot is read-only, as a shadow copy is: a write would land in a clone that is thrown away.
// The handle keeps the device object, so the snapshot behind it lasts while the handle is open.
std::shared_ptr<OpenObject> OpenDeviceObject(const std::string& name, DWORD access, DWORD flags) {
  auto published = FindDeviceObject(name);
  std::optional<VolumeTarget> target;
  if (published) target = published->target;
  auto object = OpenVolumeTarget(std::move(target), ERROR_FILE_NOT_FOUND,
                                 access & ~static_cast<DWORD>(GENERIC_WRITE), flags);
  if (!object) return nullptr;
  object->writeRefusal = ERROR_WRITE_PROTECT;
  object->deviceObject = std::move(published);
  OpenDirectDescriptor(*object, true);
  return object;
}

std::shared_ptr<OpenObject> OpenDisk(int number, DWORD access, DWORD flags) {
  DWORD error = ERROR_SUCCESS;
  auto target = ResolveDisk(number, &error);
  if (!target) return Failed(error);
  const Opened opened = OpenDevicePath(target->path, OpenFlagsFor(access, flags));
  if (opened.fd < 0) return Failed(Win32ErrorFromErrno(errno));
  auto size = SizeOfOpenFile(opened.fd);
  if (!size) {
    close(opened.fd);
    return Failed(Win32ErrorFromErrno(errno));
  }
  auto object = NewObject(ObjectKind::kDisk, opened, access, flags);
  LearnDeviceSectorSize(*object);
  object->length = *size;
  object->disk = std::move(target);
  OpenDirectDescriptor(*object, false);
  return object;
}

int DispositionFlags(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
      return O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
      return 0;
    case OPEN_ALWAYS:
      return O_CREAT;
    case TRUNCATE_EXISTING:
      return O_TRUNC;
    default:
      return -1;
  }
}

std::shared_ptr<OpenObject> OpenFile(const std::string& path, DWORD access, DWORD disposition,
                                     DWORD flags) {
  const int creation = DispositionFlags(disposition);
  if (creation < 0) return Failed(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) {
    return Failed(ERROR_INVALID_PARAMETER);
  }
  const Opened opened = OpenDevicePath(path, OpenFlagsFor(access, flags) | creation);
  if (opened.fd < 0) return Failed(Win32ErrorFromErrno(errno));
  struct stat st {};
  if (fstat(opened.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(opened.fd);
    return Failed(ERROR_ACCESS_DENIED);
  }
  // A block device named by its path behaves as a disk: fixed size, no growth.
  if (S_ISBLK(st.st_mode)) {
    auto object = NewObject(ObjectKind::kDisk, opened, access, flags);
    LearnDeviceSectorSize(*object);
    // Named by its own path, it answers to Windows' rules at its own sector size.
    object->sectorSize = object->deviceSectorSize;
    object->length = SizeOfOpenFile(opened.fd).value_or(0);
    OpenDirectDescriptor(*object, false);
    return object;
  }
  return NewObject(ObjectKind::kFile, opened, access, flags);
}

}  // namespace

std::shared_ptr<OpenObject> OpenNamedObject(LPCWSTR name, DWORD access, DWORD disposition,
                                            DWORD flags) {
  const DeviceName parsed = ParseDeviceName(name);
  // Programs open the legacy device with a disposition of 0, which that device accepts.
  const bool device = parsed.kind == NameKind::kVolume || parsed.kind == NameKind::kPhysicalDrive ||
                      parsed.kind == NameKind::kDeviceObject;
  if (device && disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    return Failed(ERROR_INVALID_PARAMETER);
  }
  switch (parsed.kind) {
    case NameKind::kVolume:
      return OpenVolume(parsed.letter, access, flags);
    case NameKind::kPhysicalDrive:
      return OpenDisk(parsed.number, access, flags);
    case NameKind::kLegacyDevice:
      return OpenLegacyDevice();
    case NameKind::kDeviceObject:
      return OpenDeviceObject(parsed.detail, access, flags);
    case NameKind::kPosixPath:
      return OpenFile(parsed.detail, access, disposition, flags);
    case NameKind::kInvalid:
      break;
  }
  return Failed(name == nullptr ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
}

}  // namespace kestro::posix
