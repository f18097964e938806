#include "storage/mount_table.h"

#include <fcntl.h>
#include <libmount/libmount.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

namespace kestro::posix {
namespace {

constexpr char kMountInfo[] = "/proc/self/mountinfo";
constexpr char kSwaps[] = "/proc/swaps";

void Append(std::vector<StoragePlace>& to, std::vector<StoragePlace> from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The places a mounted file system's source names: its device number, which kernel file
// systems carry, and its source path, which is all a FUSE mount has.
std::vector<StoragePlace> SourcePlaces(libmnt_fs* fs) {
  std::vector<StoragePlace> places;
  const dev_t device = mnt_fs_get_devno(fs);
  if (major(device) != 0) Append(places, PlacesOfDevice(device));
  const char* source = mnt_fs_get_srcpath(fs);
  if (source && source[0] == '/') Append(places, PlacesOfPath(source));
  return places;
}

// The block device a file system is mounted from, or "" when its source is none.
std::string DeviceOf(libmnt_fs* fs) {
  const char* source = mnt_fs_get_srcpath(fs);
  struct stat st {};
  return source && stat(source, &st) == 0 && S_ISBLK(st.st_mode) ? source : "";
}

struct TableDeleter {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterDeleter {
  void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};

// Calls `visit(fs)` for each mounted file system until it returns true; false when the mount
// table could not be read.
template <typename Visit>
bool ForEachMount(Visit visit) {
  std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table_from_file(kMountInfo));
  std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
  if (!table || !iter) return false;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
    if (visit(fs)) break;
  }
  return true;
}

bool IsOctalEscape(const std::string& text, size_t at) {
  if (text[at] != '\\' || at + 3 >= text.size()) return false;
  return text.find_first_not_of("01234567", at + 1) >= at + 4;
}

// /proc/swaps writes blanks, tabs, newlines and backslashes in names as octal escapes.
std::string Unescape(const std::string& name) {
  std::string plain;
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsOctalEscape(name, i)) {
      plain += static_cast<char>(std::stoi(name.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      plain += name[i];
    }
  }
  return plain;
}

std::vector<StoragePlace> SwapPlaces() {
  std::vector<StoragePlace> places;
  std::ifstream swaps(kSwaps);
  std::string line;
  std::getline(swaps, line);  // the heading
  while (std::getline(swaps, line)) {
    std::istringstream fields(line);
    std::string name;
    if (fields >> name) Append(places, PlacesOfPath(Unescape(name)));
  }
  return places;
}

// Notices changes of the mount table and the swap areas without a thread of its own: the kernel
// flags /proc/self/mountinfo and /proc/swaps with POLLPRI after every change until the next
// poll(2) of the same descriptor, and a zero-timeout poll asks for that flag. Asking is
// rate-limited by the clock, which costs no system call, so a transfer pays for a poll at most
// once per interval. Without the files every question gets a fresh generation, and every caller
// looks for itself.
class MountWatch {
 public:
  static MountWatch& Instance() {
    static MountWatch* watch = new MountWatch();
    return *watch;
  }

  uint64_t Generation() {
    const int64_t now = MonotonicNanoseconds();
    std::lock_guard<std::mutex> lock(mutex_);
    if (mountInfo_ < 0) return ++generation_;
    if (now - lastPoll_ < kPollInterval) return generation_;
    lastPoll_ = now;
    pollfd watch[2] = {{mountInfo_, POLLPRI, 0}, {swaps_, POLLPRI, 0}};
    if (poll(watch, 2, 0) < 0 || Changed(watch[0]) || Changed(watch[1])) ++generation_;
    return generation_;
  }

 private:
  // A change made within this long of the last look may go unnoticed until the next one.
  static constexpr int64_t kPollInterval = 1'000'000;  // 1 ms

  static int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  }

  static bool Changed(const pollfd& watch) {
    return watch.revents & (POLLPRI | POLLERR | POLLNVAL);
  }

  std::mutex mutex_;
  int mountInfo_ = open(kMountInfo, O_RDONLY | O_CLOEXEC);
  int swaps_ = open(kSwaps, O_RDONLY | O_CLOEXEC);  // -1 without swap support: poll skips it
  int64_t lastPoll_ = INT64_MIN / 2;
  uint64_t generation_ = 0;
};

// The places mounted file systems and swap areas use; nullopt when the mount table could not be
// read, so that nothing can be proved unmounted.
std::optional<std::vector<StoragePlace>> ScanPlacesInUse() {
  std::vector<StoragePlace> places = SwapPlaces();
  const bool read = ForEachMount([&](libmnt_fs* fs) {
    Append(places, SourcePlaces(fs));
    return false;
  });
  if (!read) return std::nullopt;
  return places;
}

// The places in use as of the last change the watch noticed.
class InUseCache {
 public:
  static InUseCache& Instance() {
    static InUseCache* cache = new InUseCache();
    return *cache;
  }

  std::shared_ptr<const std::optional<std::vector<StoragePlace>>> Places() {
    const uint64_t generation = MountTableGeneration();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!places_ || generation != generation_) {
      places_ = std::make_shared<const std::optional<std::vector<StoragePlace>>>(ScanPlacesInUse());
      generation_ = generation;
    }
    return places_;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const std::optional<std::vector<StoragePlace>>> places_;
  uint64_t generation_ = 0;
};

}  // namespace

bool InUseBySystem(const std::vector<StoragePlace>& places) {
  if (places.empty()) return false;
  const auto inUse = InUseCache::Instance().Places();
  return !inUse->has_value() || Overlap(places, **inUse);
}

std::optional<std::string> FindMountPoint(const std::vector<StoragePlace>& places) {
  const auto mounts = MountsOverlapping(places);
  if (mounts.empty()) return std::nullopt;
  return mounts.front().mountPoint;
}

std::vector<MountedFileSystem> MountsOverlapping(const std::vector<StoragePlace>& places) {
  std::vector<MountedFileSystem> mounts;
  if (places.empty()) return mounts;
  ForEachMount([&](libmnt_fs* fs) {
    const char* target = mnt_fs_get_target(fs);
    if (target && Overlap(places, SourcePlaces(fs))) mounts.push_back({target, DeviceOf(fs)});
    return false;
  });
  return mounts;
}

uint64_t MountTableGeneration() {
  return MountWatch::Instance().Generation();
}

}  // namespace kestro::posix
