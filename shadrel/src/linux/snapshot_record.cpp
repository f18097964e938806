#include "snapshot_record.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>

#include "private_dir.h"
#include "process_identity.h"

namespace shadrel::linux_snapshots {
namespace {

constexpr char kSuffix[] = ".snapshot";

std::string DefaultStateDir() {
  if (geteuid() == 0) return "/run/kestro";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') return std::string(runtime) + "/kestro";
  return "/tmp/kestro-" + std::to_string(geteuid());
}

std::string StateDirPath() {
  const char* chosen = std::getenv("KESTRO_STATE_DIR");
  return chosen && *chosen ? chosen : DefaultStateDir();
}

std::string RecordPath(const std::string& dir, const std::string& id) {
  return dir + "/" + id + kSuffix;
}

std::optional<SnapshotRecord> ParseRecord(const std::string& path) {
  std::ifstream in(path);
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  SnapshotRecord record;
  record.id = fields["id"];
  record.pid = static_cast<pid_t>(std::atol(fields["pid"].c_str()));
  record.startTime = std::strtoull(fields["start_time"].c_str(), nullptr, 10);
  record.engine = fields["engine"];
  record.origin = fields["origin"];
  record.target = fields["target"];
  record.created = std::atoll(fields["created"].c_str());
  if (record.id.empty() || record.pid <= 0 || record.engine.empty() || record.target.empty()) {
    return std::nullopt;
  }
  return record;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

SnapshotRecord NewRecord(const std::string& engine, const std::string& origin) {
  static std::atomic<unsigned> next{1};
  SnapshotRecord record;
  record.pid = getpid();
  record.id = std::to_string(record.pid) + "-" + std::to_string(next++);
  record.startTime = ProcessStartTime(record.pid).value_or(0);
  record.engine = engine;
  record.origin = origin;
  record.created = static_cast<int64_t>(std::time(nullptr));
  return record;
}

std::optional<std::string> StateDir(std::string& reason) {
  const std::string dir = StateDirPath();
  if (!EnsurePrivateDir(dir, reason)) return std::nullopt;
  return dir;
}

bool SaveRecord(const SnapshotRecord& record, std::string& reason) {
  const auto dir = StateDir(reason);
  if (!dir) return false;
  const std::string path = RecordPath(*dir, record.id);
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::trunc);
    out << "id=" << record.id << "\npid=" << record.pid << "\nstart_time=" << record.startTime
        << "\nengine=" << record.engine << "\norigin=" << record.origin
        << "\ntarget=" << record.target << "\ncreated=" << record.created << "\n";
    out.flush();
    if (!out) {
      reason = "cannot write the snapshot record " + partial;
      unlink(partial.c_str());
      return false;
    }
  }
  if (rename(partial.c_str(), path.c_str()) != 0) {
    reason = WithErrno("cannot write the snapshot record " + path);
    unlink(partial.c_str());
    return false;
  }
  return true;
}

bool DeleteRecord(const SnapshotRecord& record) {
  std::string reason;
  const auto dir = StateDir(reason);
  return dir && unlink(RecordPath(*dir, record.id).c_str()) == 0;
}

std::vector<SnapshotRecord> LoadRecords() {
  std::vector<SnapshotRecord> records;
  std::string reason;
  const auto state = StateDir(reason);
  DIR* dir = state ? opendir(state->c_str()) : nullptr;
  if (dir == nullptr) return records;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!EndsWith(name, kSuffix)) continue;
    if (auto record = ParseRecord(*state + "/" + name)) records.push_back(*record);
  }
  closedir(dir);
  std::sort(records.begin(), records.end(),
            [](const SnapshotRecord& a, const SnapshotRecord& b) { return a.id < b.id; });
  return records;
}

}  // namespace shadrel::linux_snapshots
