#include "storage/block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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
    facts.partitionStart = ReadSysfsNumber(facts.sysfsDir + "/start").value_or(0) * kSectorSize;
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

}  // namespace

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
