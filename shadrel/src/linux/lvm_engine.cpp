#include "lvm_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "run_command.h"

namespace shadrel::linux_snapshots {
namespace {

constexpr uint64_t kSector = 512;

std::string ReadLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// "vg-lv" with '-' inside either name written "--".
std::optional<LogicalVolume> SplitMapperName(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '-') continue;
    if (i + 1 < name.size() && name[i + 1] == '-') {
      ++i;
      continue;
    }
    auto undouble = [](std::string part) {
      for (size_t at = part.find("--"); at != std::string::npos; at = part.find("--", at + 1)) {
        part.erase(at, 1);
      }
      return part;
    };
    return LogicalVolume{undouble(name.substr(0, i)), undouble(name.substr(i + 1))};
  }
  return std::nullopt;
}

std::optional<uint64_t> DeviceSize(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const off_t end = lseek(fd, 0, SEEK_END);
  close(fd);
  return end >= 0 ? std::optional<uint64_t>(static_cast<uint64_t>(end)) : std::nullopt;
}

// KESTRO_LVM_SNAPSHOT_SIZE, else a tenth of the origin, in whole sectors.
uint64_t SnapshotSize(uint64_t originSize) {
  const char* chosen = std::getenv("KESTRO_LVM_SNAPSHOT_SIZE");
  const uint64_t wanted = chosen && *chosen ? std::strtoull(chosen, nullptr, 10) : originSize / 10;
  return std::max<uint64_t>(kSector, (wanted + kSector - 1) / kSector * kSector);
}

bool AppearsWithin(const std::string& device, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (access(device.c_str(), F_OK) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Attempt Refused(std::string reason, bool leftover = false) {
  Attempt attempt;
  attempt.claimed = true;
  attempt.reason = std::move(reason);
  attempt.leftover = leftover;
  return attempt;
}

}  // namespace

std::optional<LogicalVolume> ProbeDeviceMapper(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  const std::string sysfs = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev)) + "/dm/";
  if (ReadLine(sysfs + "uuid").rfind("LVM-", 0) != 0) return std::nullopt;
  return SplitMapperName(ReadLine(sysfs + "name"));
}

Attempt LvmEngine::Make(const kestro::VolumeStorage& origin, const std::string& id,
                        const NoteTarget& note) {
  const auto lv = probe_(origin.path);
  if (!lv) return Attempt();
  const std::string source = lv->group + "/" + lv->volume;
  const auto size = DeviceSize(origin.path);
  if (!size) return Refused("cannot tell the size of " + origin.path);
  const std::string name = "kestro-snap-" + id;
  const std::string target = lv->group + "/" + name;
  std::string reason;
  if (!note(target, reason)) return Refused(reason);
  const auto created = RunCommand({"lvm", "lvcreate", "--snapshot", "--name", name, "--size",
                                   std::to_string(SnapshotSize(*size)) + "B", source});
  if (!created.succeeded)
    return Refused("lvcreate of a snapshot of " + source + " failed: " + created.errors);
  const std::string device = "/dev/" + target;
  if (!AppearsWithin(device, deviceWait_)) {
    const bool removed = Remove(target, reason);
    return Refused(
        device + " did not appear after lvcreate" + (removed ? std::string() : "; " + reason),
        !removed);
  }
  Attempt attempt;
  attempt.claimed = true;
  attempt.storage = kestro::VolumeStorage{device,
                                          origin.offset,
                                          origin.length,
                                          device,
                                          origin.diskNumber,
                                          origin.diskOffset,
                                          origin.partitionNumber};
  return attempt;
}

bool LvmEngine::Remove(const std::string& target, std::string& reason) {
  const auto removed = RunCommand({"lvm", "lvremove", "-f", target});
  if (!removed.succeeded) reason = "lvremove of " + target + " failed: " + removed.errors;
  return removed.succeeded;
}

}  // namespace shadrel::linux_snapshots
