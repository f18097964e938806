#include "storage/open_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kestro::posix {
namespace {

// The major and minor number of /dev/fuse, which every FUSE server holds open.
constexpr unsigned kFuseMajor = 10;
constexpr unsigned kFuseMinor = 229;

struct OpenFile {
  struct stat target;
  bool writable;
};

// The access mode the kernel reports in the "flags:" field of /proc/PID/fdinfo/N (octal).
bool OpenForWriting(int fdinfoDir, const char* name) {
  const int fd = openat(fdinfoDir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[512] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  const char* flags = n > 0 ? strstr(text, "flags:") : nullptr;
  if (flags == nullptr) return false;
  const unsigned long mode = std::strtoul(flags + 6, nullptr, 8) & O_ACCMODE;
  return mode == O_WRONLY || mode == O_RDWR;
}

// The files process `pid` holds open that `relevant(status)` picks.
template <typename Relevant>
std::vector<OpenFile> OpenFilesOf(int procDir, const char* pid, Relevant relevant) {
  std::vector<OpenFile> files;
  const int fdDir =
      openat(procDir, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fdinfoDir =
      openat(procDir, (std::string(pid) + "/fdinfo").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fdDir >= 0 && fdinfoDir >= 0 ? fdopendir(fdDir) : nullptr;
  if (dir == nullptr) {
    if (fdDir >= 0) close(fdDir);
  } else {
    while (const dirent* entry = readdir(dir)) {
      OpenFile file{};
      if (entry->d_name[0] == '.' || fstatat(fdDir, entry->d_name, &file.target, 0) != 0 ||
          !relevant(file.target)) {
        continue;
      }
      file.writable = OpenForWriting(fdinfoDir, entry->d_name);
      files.push_back(file);
    }
    closedir(dir);
  }
  if (fdinfoDir >= 0) close(fdinfoDir);
  return files;
}

// Control characters in a process name are shown as '?'.
std::string Describe(int procDir, const char* pid) {
  std::string name;
  const int fd = openat(procDir, (std::string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[64] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n > 0) name.assign(text, static_cast<size_t>(n));
  }
  if (!name.empty() && name.back() == '\n') name.pop_back();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
  return "process " + std::string(pid) + " (" + name + ")";
}

bool Holds(const std::vector<StoragePlace>& places, const struct stat& st) {
  return std::any_of(places.begin(), places.end(), [&](const StoragePlace& place) {
    if (place.storage.isFile) {
      return S_ISREG(st.st_mode) && st.st_dev == place.storage.device &&
             st.st_ino == place.storage.inode;
    }
    return S_ISBLK(st.st_mode) && st.st_rdev == place.storage.device;
  });
}

bool IsFuseDevice(const struct stat& st) {
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == kFuseMajor && minor(st.st_rdev) == kFuseMinor;
}

// Calls `match(files)` with the open files `relevant` picks of every other process; the first
// match's description.
template <typename Relevant, typename Match>
std::optional<std::string> FindProcess(Relevant relevant, Match match) {
  const int procDir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = procDir >= 0 ? fdopendir(dup(procDir)) : nullptr;
  std::optional<std::string> found;
  const std::string self = std::to_string(getpid());
  while (dir != nullptr && !found) {
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const bool isProcess = std::all_of(entry->d_name, entry->d_name + strlen(entry->d_name),
                                       [](char c) { return c >= '0' && c <= '9'; });
    if (!isProcess || self == entry->d_name) continue;
    if (match(OpenFilesOf(procDir, entry->d_name, relevant)))
      found = Describe(procDir, entry->d_name);
  }
  if (dir != nullptr) closedir(dir);
  if (procDir >= 0) close(procDir);
  return found;
}

}  // namespace

std::optional<std::string> OtherWriterOf(const std::vector<StoragePlace>& places) {
  const bool anyFile = std::any_of(places.begin(), places.end(),
                                   [](const StoragePlace& place) { return place.storage.isFile; });
  if (!anyFile) return std::nullopt;
  const auto relevant = [&](const struct stat& st) {
    return S_ISREG(st.st_mode) && Holds(places, st);
  };
  return FindProcess(relevant, [](const std::vector<OpenFile>& files) {
    return std::any_of(files.begin(), files.end(),
                       [](const OpenFile& file) { return file.writable; });
  });
}

std::optional<std::string> FuseServerOf(const std::vector<StoragePlace>& places) {
  if (places.empty()) return std::nullopt;
  const auto relevant = [&](const struct stat& st) {
    return IsFuseDevice(st) || Holds(places, st);
  };
  return FindProcess(relevant, [&](const std::vector<OpenFile>& files) {
    const auto has = [&](auto predicate) {
      return std::any_of(files.begin(), files.end(), predicate);
    };
    return has([](const OpenFile& f) { return IsFuseDevice(f.target); }) &&
           has([&](const OpenFile& f) { return Holds(places, f.target); });
  });
}

}  // namespace kestro::posix
