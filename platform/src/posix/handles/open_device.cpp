#include "handles/open_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <win32/errors.h>

#include "errno_map.h"
#include "handles/device_name.h"
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

// Opens `path` for a device handle, retrying without O_DIRECT where the file system refuses it.
int OpenDevicePath(const std::string& path, int mode) {
  int fd = open(path.c_str(), mode);
  if (fd < 0 && errno == EINVAL && (mode & O_DIRECT)) fd = open(path.c_str(), mode & ~O_DIRECT);
  return fd;
}

std::shared_ptr<OpenObject> NewObject(ObjectKind kind, int fd, DWORD access, DWORD flags) {
  auto object = std::make_shared<OpenObject>();
  object->kind = kind;
  object->fd = fd;
  object->canRead = access & GENERIC_READ;
  object->canWrite = access & GENERIC_WRITE;
  object->noBuffering = flags & FILE_FLAG_NO_BUFFERING;
  return object;
}

std::shared_ptr<OpenObject> OpenVolume(char letter, DWORD access, DWORD flags) {
  DWORD error = ERROR_SUCCESS;
  auto target = ResolveVolume(letter, &error);
  if (!target) return Failed(error);
  const int fd = OpenDevicePath(target->path, OpenFlagsFor(access, flags));
  if (fd < 0) return Failed(Win32ErrorFromErrno(errno));
  auto object = NewObject(ObjectKind::kVolume, fd, access, flags);
  object->base = target->offset;
  object->length = target->length;
  object->volume = std::move(target);
  return object;
}

std::shared_ptr<OpenObject> OpenDisk(int number, DWORD access, DWORD flags) {
  DWORD error = ERROR_SUCCESS;
  auto target = ResolveDisk(number, &error);
  if (!target) return Failed(error);
  const int fd = OpenDevicePath(target->path, OpenFlagsFor(access, flags));
  if (fd < 0) return Failed(Win32ErrorFromErrno(errno));
  auto size = SizeOfOpenFile(fd);
  if (!size) {
    close(fd);
    return Failed(Win32ErrorFromErrno(errno));
  }
  auto object = NewObject(ObjectKind::kDisk, fd, access, flags);
  object->length = *size;
  object->disk = std::move(target);
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
  const int fd = OpenDevicePath(path, OpenFlagsFor(access, flags) | creation);
  if (fd < 0) return Failed(Win32ErrorFromErrno(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return Failed(ERROR_ACCESS_DENIED);
  }
  // A block device named by its path behaves as a disk: fixed size, no growth.
  if (S_ISBLK(st.st_mode)) {
    auto object = NewObject(ObjectKind::kDisk, fd, access, flags);
    object->length = SizeOfOpenFile(fd).value_or(0);
    return object;
  }
  return NewObject(ObjectKind::kFile, fd, access, flags);
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
      return Failed(ERROR_FILE_NOT_FOUND);
    case NameKind::kPosixPath:
      return OpenFile(parsed.detail, access, disposition, flags);
    case NameKind::kInvalid:
      break;
  }
  return Failed(name == nullptr ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
}

}  // namespace kestro::posix
