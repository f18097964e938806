// What a host learns about storage in use.
#include <win32/storage_use.h>

#include <linux/magic.h>
#include <sys/statfs.h>

#include "storage/drive_map.h"
#include "storage/file_system_devices.h"
#include "storage/open_files.h"
#include "storage/storage_place.h"
#include "storage/volume_safety.h"

namespace kestro {
namespace {

// FUSE file systems report this type; <linux/magic.h> does not name it.
constexpr long kFuseSuperMagic = 0x65735546;

bool OnFuse(int fd) {
  struct statfs fs {};
  return fstatfs(fd, &fs) == 0 && fs.f_type == kFuseSuperMagic;
}

}  // namespace

std::vector<std::string> WhyDriveInUse(char letter) {
  win32::DWORD error = 0;
  const auto target = posix::LocateVolume(letter, &error);
  if (!target) return {"cannot be located (error " + std::to_string(error) + ")"};
  return posix::WhyInUse(
      posix::Narrow(posix::PlacesOfPath(target->path), target->offset, target->length));
}

bool StoredIn(int fd, const std::string& source) {
  const auto sourcePlaces = posix::PlacesOfPath(source);
  if (sourcePlaces.empty()) return false;
  if (posix::Overlap(posix::PlacesOfOpenFile(fd), sourcePlaces)) return true;
  if (posix::Overlap(posix::PlacesOfFileSystem(fd), sourcePlaces)) return true;
  // A FUSE file system has no kernel link to what it serves; its server holds that open.
  return OnFuse(fd) && posix::FuseServerOf(sourcePlaces).has_value();
}

}  // namespace kestro
