#include "mount_table.h"

#include <fcntl.h>
#include <libmount/libmount.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "block_device.h"

namespace win32::posix {
namespace {

constexpr char kMountInfo[] = "/proc/self/mountinfo";
constexpr uint64_t kSysfsSectorSize = 512;  // sysfs gives partition starts in 512-byte units
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
      AddDevicePlaces(makedev(parentMajor, parentMinor), offset + *start * kSysfsSectorSize,
                      depth + 1, places);
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

// Follows the mount table from a thread of its own that sleeps in poll(2) on /proc/self/mountinfo
// (the kernel flags it with POLLPRI after every change) and counts the changes, so that asking
// for the generation is one atomic load and no system call. Without the file every question
// gets a fresh generation, and every caller looks at the table itself.
class MountWatch {
 public:
  MountWatch() {
    pthread_atfork(nullptr, nullptr, [] { Instance().ForgetThread(); });
  }

  static MountWatch& Instance() {
    // Never destroyed: the thread uses it until the process ends.
    static MountWatch* watch = new MountWatch();
    return *watch;
  }

  uint64_t Generation() {
    if (!watching_.load(std::memory_order_acquire)) Start();
    if (!watching_.load(std::memory_order_acquire)) return ++generation_;
    return generation_.load(std::memory_order_acquire);
  }

 private:
  void Start() {
    std::lock_guard<std::mutex> lock(startMutex_);
    if (watching_.load(std::memory_order_acquire)) return;
    // The descriptor remembers the table's state when it is opened, so no change is missed
    // between here and the thread's first poll.
    if (fd_ < 0) fd_ = open(kMountInfo, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    ++generation_;
    watching_.store(true, std::memory_order_release);
    std::thread([this] { Watch(); }).detach();
  }

  void Watch() {
    for (;;) {
      pollfd watch{fd_, POLLPRI, 0};
      const int ready = poll(&watch, 1, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (watch.revents & POLLNVAL)) break;
      if (watch.revents & (POLLPRI | POLLERR)) ++generation_;
    }
    watching_.store(false, std::memory_order_release);
    ++generation_;
  }

  // A child of fork() has no watcher thread; it starts its own when it first asks.
  void ForgetThread() {
    watching_.store(false, std::memory_order_release);
    ++generation_;
  }

  std::mutex startMutex_;
  int fd_ = -1;
  std::atomic<bool> watching_{false};
  std::atomic<uint64_t> generation_{0};
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

}  // namespace win32::posix
