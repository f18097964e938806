// The machine's block devices, as /sys/class/block lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestro::cli {

struct BlockDevice {
  std::string name;   // "sda1"
  std::string path;   // "/dev/sda1"
  std::string kind;   // "disk", "part", "loop" or "rom"
  uint64_t size = 0;  // bytes
  bool readOnly = false;
};

// Every device under `sysClassBlock`, by name.
std::vector<BlockDevice> ListBlockDevices(const std::string& sysClassBlock = "/sys/class/block");

}  // namespace kestro::cli
