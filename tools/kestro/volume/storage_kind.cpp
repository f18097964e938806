#include "volume/storage_kind.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <iterator>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// File systems whose files are made up by the kernel rather than stored: their sizes say
// nothing (a /proc file reports 0 bytes and reads as text), so they hold no image.
constexpr long kPseudoFileSystems[] = {
    PROC_SUPER_MAGIC,   SYSFS_MAGIC,         DEBUGFS_MAGIC,      TRACEFS_MAGIC, SECURITYFS_MAGIC,
    CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, DEVPTS_SUPER_MAGIC, BPF_FS_MAGIC,  PSTOREFS_MAGIC,
    EFIVARFS_MAGIC,     SELINUX_MAGIC,       SMACK_MAGIC,        NSFS_MAGIC,    BINFMTFS_MAGIC,
    0x62656570,  // configfs
    0x65735543,  // fusectl
};

bool OnPseudoFileSystem(const std::string& path) {
  struct statfs fs {};
  if (statfs(path.c_str(), &fs) != 0) return false;
  return std::find(std::begin(kPseudoFileSystems), std::end(kPseudoFileSystems),
                   static_cast<long>(fs.f_type)) != std::end(kPseudoFileSystems);
}

const char* KindOf(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  return "not a file or device";
}

}  // namespace

void RequireStorage(const std::string& path, const std::string& name) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || S_ISBLK(st.st_mode)) return;
  if (!S_ISREG(st.st_mode)) {
    throw Failure(name,
                  std::string("is ") + KindOf(st.st_mode) + ", not a block device or image file");
  }
  if (OnPseudoFileSystem(path)) {
    throw Failure(name,
                  "is a file the kernel makes up (its file system stores no data), not a "
                  "block device or image file");
  }
}

}  // namespace kestro::cli
