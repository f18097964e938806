// What a host can learn about the snapshots the requester makes, and the housekeeping of those
// left behind by processes that died holding one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <Shadrel.h>

namespace shadrel {

// Origin and target are fit to print: control characters in them are escaped.
struct SnapshotEntry {
  std::string id;
  std::string engine;   // "reflink", "lvm"
  std::string origin;   // the storage snapshotted
  std::string target;   // clone path, or volume group/volume name
  long pid = 0;         // owner
  int64_t created = 0;  // seconds since the epoch
  bool live = false;    // the owner still runs
};

struct SnapshotList {
  std::vector<SnapshotEntry> entries;
  // Why the state folder was refused, or which records in it are not believed (and are kept).
  std::vector<std::string> problems;
};

// Every snapshot on record, live and stale.
SHADREL_API SnapshotList ListSnapshots();

struct ReapOutcome {
  int removed = 0;
  // One reason per stale snapshot that could not be removed, and the list's problems.
  std::vector<std::string> failures;
};

// Removes the snapshots whose owner is gone. Every start of a snapshot does this first.
SHADREL_API ReapOutcome ReapStaleSnapshots();

// Why this thread's last VssStartBackupNoWriter failed ("" after a success).
SHADREL_API std::string LastSnapshotFailure();

// Why the last snapshot this process ended could not be removed and was kept for a later reap
// ("" when none was kept). Any thread may end a snapshot, so this is the process's.
SHADREL_API std::string LastReleaseFailure();

struct SnapshotFacts {
  std::string engine;
  std::string device;       // \\?\GLOBALROOT\Device\...
  double milliseconds = 0;  // how long making it took
};

// The snapshot `requester` holds, or nullopt.
SHADREL_API std::optional<SnapshotFacts> DescribeSnapshot(const CShadrel& requester);

}  // namespace shadrel
