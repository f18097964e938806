#include "lvm_engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <win32/sector.h>

#include "private_dir.h"
#include "run_command.h"

namespace shadrel::linux_snapshots {
namespace {

using kestro::platform::kSectorSize;
constexpr char kTag[] = "kestro-snapshot";  // added to every snapshot volume kestro makes

// The lvm tool, at its system place rather than wherever PATH leads a root process;
// KESTRO_LVM names another one (the tests' stand-in).
std::string LvmTool() {
  const char* chosen = std::getenv("KESTRO_LVM");
  if (chosen != nullptr && *chosen != 0) return chosen;
  for (const char* place : {"/usr/sbin/lvm", "/sbin/lvm"}) {
    if (access(place, X_OK) == 0) return place;
  }
  return "/usr/sbin/lvm";
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
  return std::max<uint64_t>(kSectorSize, (wanted + kSectorSize - 1) / kSectorSize * kSectorSize);
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

// A name LVM accepts for a volume group or volume, which no tool takes for an option.
bool IsLvmName(const std::string& name) {
  if (name.empty() || name.size() > 127 || name[0] == '-') return false;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && c != '+' && c != '_' && c != '.' && c != '-') return false;
  }
  return true;
}

bool HasTag(const std::string& tags, const std::string& tag) {
  std::istringstream list(tags);
  for (std::string one; std::getline(list, one, ',');) {
    if (one == tag) return true;
  }
  return false;
}

// What "lvm lvs" says of `volume` in `group`: whether it exists, and why it is not a snapshot
// volume kestro made (empty when it is).
struct VolumeReport {
  bool found = false;
  std::string notOurs;
};

std::optional<VolumeReport> Report(const std::string& group, const std::string& volume,
                                   std::string& reason) {
  const auto listed = RunCommand({LvmTool(), "lvs", "--reportformat", "json", "-o",
                                  "lv_name,vg_name,lv_attr,lv_tags,origin", group});
  if (!listed.succeeded) {
    reason = "lvs of " + group + " failed: " + Printable(listed.errors);
    return std::nullopt;
  }
  try {
    const nlohmann::json reports = nlohmann::json::parse(listed.output);
    for (const auto& report : reports.at("report")) {
      for (const auto& lv : report.at("lv")) {
        if (lv.at("lv_name") != volume || lv.at("vg_name") != group) continue;
        const std::string attributes = lv.at("lv_attr").get<std::string>();
        const std::string tags = lv.at("lv_tags").get<std::string>();
        VolumeReport found{true, ""};
        if (attributes.empty() || (attributes[0] != 's' && attributes[0] != 'S') ||
            lv.at("origin").get<std::string>().empty() || !HasTag(tags, kTag)) {
          found.notOurs =
              "attributes " + Printable(attributes) + ", tags \"" + Printable(tags) + "\"";
        }
        return found;
      }
    }
  } catch (const std::exception&) {
    reason = "lvs of " + group + " gave a report that cannot be read";
    return std::nullopt;
  }
  return VolumeReport{};
}

}  // namespace

std::optional<LogicalVolume> ProbeDeviceMapper(const std::string& path) {
  const auto mapped = kestro::DeviceMapperOf(path);
  if (!mapped || mapped->uuid.rfind("LVM-", 0) != 0) return std::nullopt;
  return SplitMapperName(mapped->name);
}

Attempt LvmEngine::Make(const kestro::VolumeStorage& origin, SnapshotRecord& record) {
  const auto lv = probe_(origin.path);
  if (!lv) return Attempt();
  const std::string source = lv->group + "/" + lv->volume;
  const auto size = DeviceSize(origin.path);
  if (!size) return Refused("cannot tell the size of " + origin.path);
  if (!IsLvmName(lv->group) || !IsLvmName(lv->volume)) {
    return Refused(Printable(source) + " is not a logical volume name kestro can pass to lvm");
  }
  record.group = lv->group;
  record.volume = SnapshotName(record.id);
  const std::string target = TargetOf(record);
  std::string reason;
  if (!SaveRecord(record, reason)) return Refused(reason);
  const auto created =
      RunCommand({LvmTool(), "lvcreate", "--snapshot", "--addtag", kTag, "--name", record.volume,
                  "--size", std::to_string(SnapshotSize(*size)) + "B", source});
  if (!created.succeeded) {
    return Refused("lvcreate of a snapshot of " + source + " failed: " + Printable(created.errors));
  }
  const std::string device = "/dev/" + target;
  if (!AppearsWithin(device, deviceWait_)) {
    const bool removed = Remove(record, reason);
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

bool LvmEngine::Remove(const SnapshotRecord& record, std::string& reason) {
  const std::string target = TargetOf(record);
  if (record.volume != SnapshotName(record.id) || !IsLvmName(record.group)) {
    reason = Printable(target) + " is not named as kestro names its snapshot volumes; kept";
    return false;
  }
  const auto report = Report(record.group, record.volume, reason);
  if (!report) return false;
  if (!report->found) return true;
  if (!report->notOurs.empty()) {
    reason = target + " is not a snapshot volume kestro made (" + report->notOurs + "); kept";
    return false;
  }
  const auto removed = RunCommand({LvmTool(), "lvremove", "-f", target});
  if (!removed.succeeded)
    reason = "lvremove of " + target + " failed: " + Printable(removed.errors);
  return removed.succeeded;
}

}  // namespace shadrel::linux_snapshots
