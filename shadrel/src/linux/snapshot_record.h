// The record each snapshot leaves in the state folder while it exists: whose it is and how to
// remove it, so that a later start can reap snapshots whose owner died.
//
// The state folder is KESTRO_STATE_DIR, else /run/kestro for root, else $XDG_RUNTIME_DIR/kestro,
// else /tmp/kestro-<uid>; it is private to its owner (0700).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace shadrel::linux_snapshots {

struct SnapshotRecord {
  std::string id;          // unique name of the snapshot: "<pid>-<n>"
  pid_t pid = 0;           // owner
  uint64_t startTime = 0;  // owner's start time, clock ticks after boot
  std::string engine;      // "reflink", "lvm"
  std::string origin;      // the storage snapshotted
  std::string target;      // clone path, or volume group/volume name
  int64_t created = 0;     // seconds since the epoch
};

// A record for a new snapshot of this process, with a fresh id.
SnapshotRecord NewRecord(const std::string& engine, const std::string& origin);

// The state folder, created private when missing; nullopt with a reason when it cannot be.
std::optional<std::string> StateDir(std::string& reason);

// Writes `record` to the state folder, replacing any earlier version of it.
bool SaveRecord(const SnapshotRecord& record, std::string& reason);
bool DeleteRecord(const SnapshotRecord& record);

// Every record in the state folder, in id order.
std::vector<SnapshotRecord> LoadRecords();

}  // namespace shadrel::linux_snapshots
