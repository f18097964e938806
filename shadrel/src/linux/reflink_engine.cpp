#include "reflink_engine.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <climits>
#include <optional>

#include "descriptor.h"
#include "frozen_mounts.h"
#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// The absolute form of `path`, against the working folder when it is relative.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

// The folder for clones of the images in `parent` (at `parentPath`): KESTRO_SNAPSHOT_DIR, else
// ".kestro-snapshots" in it, created when missing.
std::optional<PrivateDir> OpenSnapshotDir(int parent, const std::string& parentPath,
                                          std::string& reason) {
  const char* chosen = std::getenv("KESTRO_SNAPSHOT_DIR");
  if (chosen && *chosen) return PrivateDir::Open(AT_FDCWD, chosen, Absolute(chosen), true, reason);
  const std::string shown = (parentPath == "/" ? "" : parentPath) + "/.kestro-snapshots";
  return PrivateDir::Open(parent, ".kestro-snapshots", shown, true, reason);
}

// The file system's name as reasons give it.
std::string FileSystemName(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return "unknown";
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:
      return "ext4";
    case XFS_SUPER_MAGIC:
      return "xfs";
    case BTRFS_SUPER_MAGIC:
      return "btrfs";
    case TMPFS_MAGIC:
      return "tmpfs";
    case NFS_SUPER_MAGIC:
      return "nfs";
    default:
      char hex[24];
      std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(fs.f_type));
      return hex;
  }
}

Attempt Refused(std::string reason) {
  Attempt attempt;
  attempt.claimed = true;
  attempt.reason = std::move(reason);
  return attempt;
}

// Clones `source` (the image `image`) into a new file `name` (0600) in `folder` while `frozen`
// holds the file systems mounted from the image still; the clone is gone again when this fails.
bool CloneFrozen(int source, const std::string& image, const PrivateDir& folder,
                 const std::string& name, FrozenMounts& frozen, std::string& reason) {
  const Descriptor clone(openat(folder.fd(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!clone.valid()) {
    reason = WithErrno("cannot create " + Printable(folder.shown() + "/" + name));
    return false;
  }
  bool cloned = frozen.Freeze(reason);
  if (cloned && ioctl(clone.get(), FICLONE, source) != 0) {
    const bool unsupported = errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL;
    reason = unsupported ? "the file system holding " + Printable(image) + " cannot clone files (" +
                               FileSystemName(source) + ")"
                         : WithErrno("cannot clone " + Printable(image));
    cloned = false;
  }
  frozen.Thaw();
  if (cloned && fsync(clone.get()) != 0) {
    reason = WithErrno("cannot finish " + Printable(folder.shown() + "/" + name));
    cloned = false;
  }
  if (!cloned) unlinkat(folder.fd(), name.c_str(), 0);
  return cloned;
}

// Whether folder `parent` holds the file open on `fd` under `name`.
bool Holds(int parent, const std::string& name, int fd) {
  struct stat named {
  }, held{};
  return fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
         named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

}  // namespace

Attempt ReflinkEngine::Make(const kestro::VolumeStorage& origin, SnapshotRecord& record) {
  const auto backing = kestro::BackingFileOf(origin.path, origin.offset);
  if (!backing) return Attempt();
  // The image is the very file the drive's bytes lie in, opened by the platform; the clone goes
  // beside it, in the folder its name leads to now, once that folder is seen to hold it.
  const Descriptor source(backing->fd);
  if (!source.valid()) return Refused(WithErrno("cannot open " + Printable(backing->path)));
  const std::string sourcePath = "/proc/self/fd/" + std::to_string(source.get());
  const std::string imagePath = Absolute(CurrentName(sourcePath));
  const std::string parentPath = DirectoryOf(imagePath);
  const Descriptor parent(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid() || !Holds(parent.get(), BaseName(imagePath), source.get())) {
    return Refused(Printable(imagePath) + " was moved while its snapshot was being made");
  }
  std::string reason;
  const auto folder = OpenSnapshotDir(parent.get(), parentPath, reason);
  if (!folder) return Refused(reason);
  struct stat image {};
  if (fstat(source.get(), &image) != 0 || image.st_dev != folder->status().st_dev) {
    return Refused(Printable(folder->shown()) + " is not on the file system holding " +
                   Printable(imagePath));
  }
  FrozenMounts frozen;
  if (!frozen.Open(sourcePath, reason)) return Refused(reason);
  record.folder = folder->shown();
  record.folderDevice = folder->status().st_dev;
  record.folderInode = folder->status().st_ino;
  record.clone = SnapshotName(record.id);
  record.frozen = frozen.Named();
  if (!SaveRecord(record, reason)) return Refused(reason);
  if (!CloneFrozen(source.get(), imagePath, *folder, record.clone, frozen, reason)) {
    return Refused(reason);
  }
  record.frozen.clear();
  SaveRecord(record, reason);  // a later reap then has no file system to thaw; harmless if not
  Attempt attempt;
  attempt.claimed = true;
  attempt.kept = openat(folder->fd(), record.clone.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (attempt.kept < 0) {
    attempt.reason = WithErrno("cannot open " + Printable(TargetOf(record)));
    unlinkat(folder->fd(), record.clone.c_str(), 0);
    return attempt;
  }
  const std::string clone = "/proc/self/fd/" + std::to_string(attempt.kept);
  attempt.storage = kestro::VolumeStorage{clone,
                                          backing->offset,
                                          origin.length,
                                          clone,
                                          origin.diskNumber,
                                          origin.diskOffset,
                                          origin.partitionNumber};
  return attempt;
}

bool ReflinkEngine::Remove(const SnapshotRecord& record, std::string& reason) {
  const std::string shown = TargetOf(record);
  if (record.clone != SnapshotName(record.id)) {
    reason = Printable(shown) + " is not named as kestro names its clones; kept";
    return false;
  }
  const std::string parentPath = DirectoryOf(record.folder);
  const Descriptor parent(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid()) {
    if (errno == ENOENT) return true;  // its folder is gone, and the clone with it
    reason = WithErrno("cannot open " + Printable(parentPath));
    return false;
  }
  const auto folder =
      PrivateDir::Open(parent.get(), BaseName(record.folder), record.folder, false, reason);
  if (!folder) return false;
  if (folder->status().st_dev != record.folderDevice ||
      folder->status().st_ino != record.folderInode) {
    reason = Printable(record.folder) + " is not the folder the clone was made in; kept";
    return false;
  }
  struct stat status {};
  if (fstatat(folder->fd(), record.clone.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    reason = WithErrno("cannot examine " + Printable(shown));
    return false;
  }
  if (!S_ISREG(status.st_mode) || !UntrustedBecause(status, shown).empty()) {
    reason = Printable(shown) + " is not a clone kestro made; kept";
    return false;
  }
  if (unlinkat(folder->fd(), record.clone.c_str(), 0) == 0 || errno == ENOENT) return true;
  reason = WithErrno("cannot remove " + Printable(shown));
  return false;
}

}  // namespace shadrel::linux_snapshots
