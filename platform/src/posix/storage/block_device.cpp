#include "storage/block_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace kestro::posix {
namespace {

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

std::string ParentDir(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

void AddSysfsFacts(DeviceFacts& facts) {
  if (facts.sysfsDir.empty()) return;
  if (auto number = ReadSysfsNumber(facts.sysfsDir + "/partition")) {
    facts.partitionNumber = static_cast<unsigned>(*number);
    facts.partitionStart =
        ReadSysfsNumber(facts.sysfsDir + "/start").value_or(0) * platform::kSectorSize;
    const std::string parentDir = ParentDir(facts.sysfsDir);
    facts.parentDisk = "/dev/" + BaseName(parentDir);
    facts.removable = ReadSysfsNumber(parentDir + "/removable").value_or(0) != 0;
  } else {
    facts.removable = ReadSysfsNumber(facts.sysfsDir + "/removable").value_or(0) != 0;
  }
}

// Adds what the kernel knows about the block device open on `fd` with device number `device`.
void AddBlockFacts(int fd, dev_t device, DeviceFacts& facts) {
  facts.isBlockDevice = true;
  facts.size = SizeOfOpenFile(fd).value_or(0);
  int sectorSize = 0;
  if (ioctl(fd, BLKSSZGET, &sectorSize) == 0 && sectorSize > 0) {
    facts.logicalSectorSize = static_cast<uint32_t>(sectorSize);
  }
  facts.sysfsDir = SysfsDirOf(device);
  AddSysfsFacts(facts);
}

std::optional<dev_t> ReadDeviceNumber(const std::string& file) {
  const auto numbers = ReadSysfsLine(file);
  unsigned deviceMajor = 0, deviceMinor = 0;
  if (!numbers || std::sscanf(numbers->c_str(), "%u:%u", &deviceMajor, &deviceMinor) != 2) {
    return std::nullopt;
  }
  return makedev(deviceMajor, deviceMinor);
}

}  // namespace

std::optional<dev_t> ParentDiskOf(dev_t device) {
  const std::string sysfs = SysfsDirOf(device);
  if (sysfs.empty() || !ReadSysfsNumber(sysfs + "/partition")) return std::nullopt;
  return ReadDeviceNumber(ParentDir(sysfs) + "/dev");
}

std::vector<dev_t> ListBlockDevices() {
  std::vector<dev_t> devices;
  DIR* dir = opendir("/sys/class/block");
  if (dir == nullptr) return devices;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const auto device = ReadDeviceNumber(std::string("/sys/class/block/") + entry->d_name + "/dev");
    if (device) devices.push_back(*device);
  }
  closedir(dir);
  return devices;
}

int OpenBlockDevice(dev_t device, int flags) {
  const std::string sysfs = SysfsDirOf(device);
  if (sysfs.empty()) {
    errno = ENODEV;
    return -1;
  }
  const int fd = open(("/dev/" + BaseName(sysfs)).c_str(), flags | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != device)) {
    close(fd);
    errno = ENODEV;
    return -1;
  }
  return fd;
}

std::string BlockDeviceName(dev_t device) {
  const std::string sysfs = SysfsDirOf(device);
  if (!sysfs.empty()) return "/dev/" + BaseName(sysfs);
  return "block device " + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::string SysfsDirOf(dev_t device) {
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  return realpath(link.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::optional<std::string> ReadSysfsLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return line;
}

std::optional<uint64_t> ReadSysfsNumber(const std::string& file) {
  std::ifstream in(file);
  unsigned long long value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

std::optional<uint64_t> SizeOfOpenFile(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  if (!S_ISBLK(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  uint64_t size = 0;
  if (ioctl(fd, BLKGETSIZE64, &size) != 0) return std::nullopt;
  return size;
}

std::optional<DeviceFacts> ExamineDevice(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  DeviceFacts facts;
  if (S_ISREG(st.st_mode)) {
    facts.size = static_cast<uint64_t>(st.st_size);
    return facts;
  }
  if (!S_ISBLK(st.st_mode)) {
    errno = EINVAL;
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  AddBlockFacts(fd, st.st_rdev, facts);
  close(fd);
  return facts;
}

std::optional<DeviceFacts> ExamineOpenDevice(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  DeviceFacts facts;
  if (S_ISBLK(st.st_mode)) {
    AddBlockFacts(fd, st.st_rdev, facts);
  } else {
    facts.size = static_cast<uint64_t>(st.st_size);
  }
  return facts;
}

}  // namespace kestro::posix
