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

std::string SnapshotDirFor(const std::string& file) {
  const char* chosen = std::getenv("KESTRO_SNAPSHOT_DIR");
  if (chosen && *chosen) return chosen;
  return DirectoryOf(file) + "/.kestro-snapshots";
}

// The file system's name as reasons give it.
std::string FileSystemName(const std::string& path) {
  struct statfs fs {};
  if (statfs(path.c_str(), &fs) != 0) return "unknown";
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

bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev;
}

// Clones `source` into a new file `clone` (0600) with the file systems mounted from `source`
// frozen meanwhile; the clone is gone again when this fails.
bool CloneFrozen(const std::string& source, const std::string& clone, std::string& reason) {
  const int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) {
    reason = WithErrno("cannot open " + source);
    return false;
  }
  const int to = open(clone.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (to < 0) {
    reason = WithErrno("cannot create " + clone);
    close(from);
    return false;
  }
  FrozenMounts frozen;
  bool cloned = frozen.Freeze(source, reason);
  if (cloned && ioctl(to, FICLONE, from) != 0) {
    const bool unsupported = errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL;
    reason = unsupported ? "the file system holding " + source + " cannot clone files (" +
                               FileSystemName(source) + ")"
                         : WithErrno("cannot clone " + source);
    cloned = false;
  }
  if (close(to) != 0 && cloned) {
    reason = WithErrno("cannot finish " + clone);
    cloned = false;
  }
  close(from);
  if (!cloned) unlink(clone.c_str());
  return cloned;
}

}  // namespace

Attempt ReflinkEngine::Make(const kestro::VolumeStorage& origin, const std::string& id,
                            const NoteTarget& note) {
  const auto backing = kestro::BackingFileOf(origin.path, origin.offset);
  if (!backing) return Attempt();
  std::string reason;
  const std::string dir = SnapshotDirFor(backing->path);
  if (!EnsurePrivateDir(dir, reason)) return Refused(reason);
  if (!SameFileSystem(dir, backing->path)) {
    return Refused(dir + " is not on the file system holding " + backing->path);
  }
  const std::string clone = dir + "/" + BaseName(backing->path) + "." + id;
  if (!note(clone, reason)) return Refused(reason);
  if (!CloneFrozen(backing->path, clone, reason)) return Refused(reason);
  Attempt attempt;
  attempt.claimed = true;
  attempt.storage = kestro::VolumeStorage{clone,
                                          backing->offset,
                                          origin.length,
                                          clone,
                                          origin.diskNumber,
                                          origin.diskOffset,
                                          origin.partitionNumber};
  return attempt;
}

bool ReflinkEngine::Remove(const std::string& target, std::string& reason) {
  if (unlink(target.c_str()) == 0 || errno == ENOENT) return true;
  reason = WithErrno("cannot remove " + target);
  return false;
}

}  // namespace shadrel::linux_snapshots
