#include "volume/block_devices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "volume/sector.h"

namespace kestro::cli {
namespace {

namespace fs = std::filesystem;

uint64_t ReadNumber(const fs::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  in >> value;
  return in ? value : 0;
}

std::string KindOf(const fs::path& dir, const std::string& name) {
  if (fs::exists(dir / "partition")) return "part";
  if (name.rfind("loop", 0) == 0) return "loop";
  if (name.rfind("sr", 0) == 0) return "rom";
  return "disk";
}

}  // namespace

std::vector<BlockDevice> ListBlockDevices(const std::string& sysClassBlock) {
  std::vector<BlockDevice> devices;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sysClassBlock, error)) {
    const fs::path& dir = entry.path();
    BlockDevice device;
    device.name = dir.filename().string();
    device.path = "/dev/" + device.name;
    device.kind = KindOf(dir, device.name);
    device.size = ReadNumber(dir / "size") * kSectorSize;
    device.readOnly = ReadNumber(dir / "ro") != 0;
    devices.push_back(device);
  }
  std::sort(devices.begin(), devices.end(),
            [](const BlockDevice& a, const BlockDevice& b) { return a.name < b.name; });
  return devices;
}

}  // namespace kestro::cli
