#include "storage/mount_table.h"

#include <fcntl.h>
#include <libmount/libmount.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "sector.h"
#include "storage/block_device.h"

namespace kestro::posix {
namespace {

constexpr char kMountInfo[] = "/proc/self/mountinfo";
// Loop devices over partitions of loop devices are followed this deep at most.
constexpr int kMaxStacking = 8;

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

void AddPathPlaces(const std::string& path, uint64_t offset, int depth,
                   std::vector<StoragePlace>& places);

// A device is its own place; a partition device is also a range of its parent disk, and a loop
// device a range of its backing file.
void AddDevicePlaces(dev_t device, uint64_t offset, int depth, std::vector<StoragePlace>& places) {
  places.push_back(StoragePlace{device, {}, offset});
  const std::string sysfs = SysfsDirOf(device);
  if (depth >= kMaxStacking || sysfs.empty()) return;
  if (ReadSysfsNumber(sysfs + "/partition")) {
    const std::string parent = sysfs.substr(0, sysfs.rfind('/'));
    const auto start = ReadSysfsNumber(sysfs + "/start");
    const auto numbers = ReadSysfsLine(parent + "/dev");
    unsigned parentMajor = 0, parentMinor = 0;
    if (start && numbers &&
        std::sscanf(numbers->c_str(), "%u:%u", &parentMajor, &parentMinor) == 2) {
      AddDevicePlaces(makedev(parentMajor, parentMinor), offset + *start * kSectorSize, depth + 1,
                      places);
    }
  }
  if (auto backing = ReadSysfsLine(sysfs + "/loop/backing_file")) {
    const uint64_t loopOffset = ReadSysfsNumber(sysfs + "/loop/offset").value_or(0);
    AddPathPlaces(*backing, offset + loopOffset, depth + 1, places);
  }
}

void AddPathPlaces(const std::string& path, uint64_t offset, int depth,
                   std::vector<StoragePlace>& places) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode)) places.push_back(StoragePlace{0, Canonical(path), offset});
  if (S_ISBLK(st.st_mode)) AddDevicePlaces(st.st_rdev, offset, depth, places);
}

// The places a mounted file system's source names: its device number, which kernel file
// systems carry, and its source path, which is all a FUSE mount of an image file has.
std::vector<StoragePlace> SourcePlaces(libmnt_fs* fs) {
  std::vector<StoragePlace> places;
  const dev_t device = mnt_fs_get_devno(fs);
  if (major(device) != 0) AddDevicePlaces(device, 0, 0, places);
  const char* source = mnt_fs_get_srcpath(fs);
  if (source && source[0] == '/') AddPathPlaces(source, 0, 0, places);
  return places;
}

bool Overlap(const std::vector<StoragePlace>& a, const std::vector<StoragePlace>& b) {
  return std::any_of(a.begin(), a.end(), [&](const StoragePlace& place) {
    return std::find(b.begin(), b.end(), place) != b.end();
  });
}

struct TableDeleter {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterDeleter {
  void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};

// Notices changes of the mount table without a thread of its own: the kernel flags
// /proc/self/mountinfo with POLLPRI after every change until the next poll(2) of the same
// descriptor, and a zero-timeout poll asks for that flag. Asking is rate-limited by the clock,
// which costs no system call, so a transfer pays for a poll at most once per interval. Without
// the file every question gets a fresh generation, and every caller looks at the table itself.
class MountWatch {
 public:
  static MountWatch& Instance() {
    static MountWatch* watch = new MountWatch();
    return *watch;
  }

  uint64_t Generation() {
    const int64_t now = MonotonicNanoseconds();
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) fd_ = open(kMountInfo, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return ++generation_;
    if (now - lastPoll_ < kPollInterval) return generation_;
    lastPoll_ = now;
    pollfd watch{fd_, POLLPRI, 0};
    if (poll(&watch, 1, 0) != 1 || (watch.revents & (POLLPRI | POLLERR | POLLNVAL))) {
      ++generation_;
    }
    return generation_;
  }

 private:
  // A mount made within this long of the last look may go unnoticed until the next one.
  static constexpr int64_t kPollInterval = 1'000'000;  // 1 ms

  static int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  }

  std::mutex mutex_;
  int fd_ = -1;
  int64_t lastPoll_ = INT64_MIN / 2;
  uint64_t generation_ = 0;
};

}  // namespace

std::vector<StoragePlace> PlacesOf(const std::string& path, uint64_t offset) {
  std::vector<StoragePlace> places;
  AddPathPlaces(path, offset, 0, places);
  return places;
}

std::optional<std::string> FindMountPoint(const std::vector<StoragePlace>& places) {
  std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table_from_file(kMountInfo));
  std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
  if (!table || !iter || places.empty()) return std::nullopt;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
    const char* target = mnt_fs_get_target(fs);
    if (target && Overlap(places, SourcePlaces(fs))) return std::string(target);
  }
  return std::nullopt;
}

uint64_t MountTableGeneration() {
  return MountWatch::Instance().Generation();
}

}  // namespace kestro::posix
