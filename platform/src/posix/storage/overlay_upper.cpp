#include "storage/overlay_upper.h"

#include <fcntl.h>
#include <libmount/libmount.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace kestro::posix {
namespace {

// The mount id of the file `fd` holds, as /proc/self/fdinfo states it; -1 when unknown.
long MountIdOf(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("mnt_id:", 0) == 0) return std::stol(line.substr(7));
  }
  return -1;
}

// The upperdir= option of mount `id`; "" when it has none.
std::string UpperDirOf(long id) {
  libmnt_table* table = mnt_new_table_from_file("/proc/self/mountinfo");
  if (table == nullptr) return "";
  std::string upper;
  libmnt_fs* fs = nullptr;
  libmnt_iter* iter = mnt_new_iter(MNT_ITER_FORWARD);
  while (iter != nullptr && mnt_table_next_fs(table, iter, &fs) == 0) {
    char* value = nullptr;
    size_t length = 0;
    if (mnt_fs_get_id(fs) == id && mnt_fs_get_option(fs, "upperdir", &value, &length) == 0) {
      upper.assign(value, length);
      break;
    }
  }
  mnt_free_iter(iter);
  mnt_unref_table(table);
  return upper;
}

}  // namespace

int OpenOverlayUpper(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0 || fs.f_type != OVERLAYFS_SUPER_MAGIC) return -1;
  const std::string upper = UpperDirOf(MountIdOf(fd));
  if (upper.empty()) return -1;
  return open(upper.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace kestro::posix
