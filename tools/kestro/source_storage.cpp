#include "source_storage.h"

#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

namespace kestro::cli {
namespace {

namespace fs = std::filesystem;

std::string SysfsDirectory(dev_t device) {
  return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The device number a sysfs "dev" file gives ("8:1"), or 0.
dev_t ReadDeviceNumber(const fs::path& file) {
  std::ifstream in(file);
  unsigned int majorNumber = 0, minorNumber = 0;
  char colon = 0;
  if (!(in >> majorNumber >> colon >> minorNumber) || colon != ':') return 0;
  return makedev(majorNumber, minorNumber);
}

}  // namespace

SourceStorage::SourceStorage(const std::string& path) {
  AddPath(path);
}

bool SourceStorage::Holds(const struct stat& st) const {
  if (S_ISBLK(st.st_mode) && devices_.count(st.st_rdev)) return true;
  // A file on a file system mounted from the source's device lies inside the source.
  return files_.count({st.st_dev, st.st_ino}) || devices_.count(st.st_dev);
}

void SourceStorage::AddPath(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return;
  if (S_ISBLK(st.st_mode)) {
    AddDevice(st.st_rdev);
  } else {
    files_.insert({st.st_dev, st.st_ino});
  }
}

void SourceStorage::AddDevice(dev_t device) {
  if (device == 0 || !devices_.insert(device).second) return;
  const std::string sys = SysfsDirectory(device);
  std::error_code error;
  // A partition's sysfs directory sits inside its disk's.
  if (fs::exists(sys + "/partition", error)) {
    AddDevice(ReadDeviceNumber(fs::canonical(sys, error).parent_path() / "dev"));
  }
  AddBackingFile(sys);
  AddDevicesListedIn(sys + "/slaves");
}

void SourceStorage::AddBackingFile(const std::string& sysDevice) {
  std::ifstream in(sysDevice + "/loop/backing_file");
  std::string backing;
  if (std::getline(in, backing) && !backing.empty()) AddPath(backing);
}

void SourceStorage::AddDevicesListedIn(const std::string& sysDirectory) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sysDirectory, error)) {
    AddDevice(ReadDeviceNumber(entry.path() / "dev"));
  }
}

}  // namespace kestro::cli
