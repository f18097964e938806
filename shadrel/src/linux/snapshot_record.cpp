#include "snapshot_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "private_dir.h"
#include "process_identity.h"

namespace shadrel::linux_snapshots {
namespace {

using nlohmann::json;

constexpr char kSuffix[] = ".json";
constexpr char kOldSuffix[] = ".snapshot";  // key=value records of earlier versions
constexpr off_t kLargestRecord = 1 << 20;

// A record field that is missing or not of its kind.
class BadField : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

std::optional<PrivateDir> OpenStateDir(bool create, std::string& reason) {
  const std::string path = StateDirPath();
  return PrivateDir::Open(AT_FDCWD, path, path, create, reason);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsSnapshotId(const std::string& id) {
  const size_t dash = id.find('-');
  auto digits = [](const std::string& part) {
    return !part.empty() && part.size() <= 20 &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return dash != std::string::npos && digits(id.substr(0, dash)) && digits(id.substr(dash + 1));
}

json ToJson(const SnapshotRecord& record) {
  json frozen = json::array();
  for (const FrozenMount& mount : record.frozen) {
    frozen.push_back({{"path", mount.path}, {"device", mount.device}});
  }
  json out = {
      {"id", record.id},         {"pid", record.pid},       {"start_time", record.startTime},
      {"engine", record.engine}, {"origin", record.origin}, {"created", record.created},
      {"frozen", frozen}};
  if (record.engine == "reflink") {
    out["folder"] = record.folder;
    out["folder_device"] = record.folderDevice;
    out["folder_inode"] = record.folderInode;
    out["clone"] = record.clone;
  } else {
    out["group"] = record.group;
    out["volume"] = record.volume;
  }
  return out;
}

std::string Text(const json& object, const char* key) {
  const json& value = object.at(key);
  if (!value.is_string()) throw BadField(std::string(key) + " is not text");
  return value.get<std::string>();
}

uint64_t Number(const json& object, const char* key) {
  const json& value = object.at(key);
  if (!value.is_number_unsigned()) throw BadField(std::string(key) + " is not a count");
  return value.get<uint64_t>();
}

std::string AbsolutePath(const json& object, const char* key) {
  std::string path = Text(object, key);
  if (path.empty() || path[0] != '/') throw BadField(std::string(key) + " is not an absolute path");
  return path;
}

// The record `text` holds, stored under the file name `name`; throws when it is none.
SnapshotRecord FromJson(const std::string& text, const std::string& name) {
  const json in = json::parse(text);
  SnapshotRecord record;
  record.id = Text(in, "id");
  if (!IsSnapshotId(record.id) || name != record.id + kSuffix) throw BadField("id does not fit");
  record.pid = static_cast<pid_t>(Number(in, "pid"));
  if (record.pid <= 0) throw BadField("pid is out of range");
  record.startTime = Number(in, "start_time");
  record.engine = Text(in, "engine");
  record.origin = Text(in, "origin");
  record.created = static_cast<int64_t>(Number(in, "created"));
  if (record.engine == "reflink") {
    record.folder = AbsolutePath(in, "folder");
    record.folderDevice = Number(in, "folder_device");
    record.folderInode = Number(in, "folder_inode");
    record.clone = Text(in, "clone");
  } else if (record.engine == "lvm") {
    record.group = Text(in, "group");
    record.volume = Text(in, "volume");
  } else {
    throw BadField("engine is unknown");
  }
  for (const json& mount : in.at("frozen")) {
    record.frozen.push_back({AbsolutePath(mount, "path"), Number(mount, "device")});
  }
  return record;
}

// The contents of record file `name`, if it is a regular file this user may trust.
std::optional<std::string> ReadRecordFile(const PrivateDir& dir, const std::string& name,
                                          std::string& reason) {
  const std::string shown = dir.shown() + "/" + name;
  const int fd = openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = WithErrno("cannot open " + Printable(shown));
    return std::nullopt;
  }
  struct stat status {};
  std::string text;
  if (fstat(fd, &status) != 0) {
    reason = WithErrno("cannot examine " + Printable(shown));
  } else if (!S_ISREG(status.st_mode) || status.st_size > kLargestRecord) {
    reason = Printable(shown) + " is not a regular file of a record's size";
  } else {
    reason = UntrustedBecause(status, shown);
  }
  char buffer[4096];
  for (ssize_t n = 1; reason.empty() && n != 0;) {
    n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) reason = WithErrno("cannot read " + Printable(shown));
  }
  close(fd);
  if (!reason.empty()) return std::nullopt;
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string SnapshotName(const std::string& id) {
  return "kestro-snap-" + id;
}

std::string TargetOf(const SnapshotRecord& record) {
  if (record.engine == "reflink") return record.folder + "/" + record.clone;
  return record.group + "/" + record.volume;
}

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

bool SaveRecord(const SnapshotRecord& record, std::string& reason) {
  std::string text;
  try {
    text = ToJson(record).dump(2) + "\n";
  } catch (const json::exception&) {
    reason = "cannot record snapshot " + record.id + ": a path in it is not valid UTF-8";
    return false;
  }
  const auto dir = OpenStateDir(true, reason);
  if (!dir) return false;
  const std::string name = record.id + kSuffix;
  const std::string partial = "." + name + ".partial";
  unlinkat(dir->fd(), partial.c_str(), 0);  // left by an earlier process of the same id
  const int fd = openat(dir->fd(), partial.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const bool written = fd >= 0 && WriteAll(fd, text) && fsync(fd) == 0;
  if (!written) reason = WithErrno("cannot write " + Printable(dir->shown() + "/" + partial));
  if (fd >= 0) close(fd);
  if (written && renameat(dir->fd(), partial.c_str(), dir->fd(), name.c_str()) == 0) return true;
  if (written) reason = WithErrno("cannot rename " + Printable(dir->shown() + "/" + partial));
  unlinkat(dir->fd(), partial.c_str(), 0);
  return false;
}

bool DeleteRecord(const SnapshotRecord& record, std::string& reason) {
  const auto dir = OpenStateDir(false, reason);
  if (!dir) return false;
  const std::string name = record.id + kSuffix;
  if (unlinkat(dir->fd(), name.c_str(), 0) == 0 || errno == ENOENT) return true;
  reason = WithErrno("cannot remove " + Printable(dir->shown() + "/" + name));
  return false;
}

RecordScan ScanRecords() {
  RecordScan scan;
  struct stat status {};
  if (lstat(StateDirPath().c_str(), &status) != 0 && errno == ENOENT) return scan;
  std::string reason;
  const auto dir = OpenStateDir(false, reason);
  const int listing = dir ? dup(dir->fd()) : -1;
  DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    scan.problems.push_back(dir ? WithErrno("cannot list " + Printable(dir->shown())) : reason);
    if (listing >= 0) close(listing);
    return scan;
  }
  while (const dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    const std::string shown = Printable(dir->shown() + "/" + name);
    if (EndsWith(name, kOldSuffix)) {
      scan.problems.push_back(shown + ": a record of an earlier version, not trusted; kept");
      continue;
    }
    if (name[0] == '.' || !EndsWith(name, kSuffix)) continue;
    const auto text = ReadRecordFile(*dir, name, reason);
    if (!text) {
      scan.problems.push_back(reason + "; record not trusted, kept");
      continue;
    }
    try {
      scan.records.push_back(FromJson(*text, name));
    } catch (const std::exception& error) {
      scan.problems.push_back(shown + " is not a snapshot record (" + Printable(error.what()) +
                              "); kept");
    }
  }
  closedir(entries);
  std::sort(scan.records.begin(), scan.records.end(),
            [](const SnapshotRecord& a, const SnapshotRecord& b) { return a.id < b.id; });
  return scan;
}

}  // namespace shadrel::linux_snapshots
