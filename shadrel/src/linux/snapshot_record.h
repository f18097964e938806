// The record each snapshot leaves in the state folder while it exists: whose it is, what it made
// and which file systems it froze, so that a later start can reap snapshots whose owner died.
// Records are JSON files written whole under a temporary name and renamed into place.
//
// The state folder is KESTRO_STATE_DIR, else /run/kestro for root, else $XDG_RUNTIME_DIR/kestro,
// else /tmp/kestro-<uid>; it is created 0700 and trusted only while its owner is this user or
// root and no one else may write it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace shadrel::linux_snapshots {

// A file system frozen while the snapshot is made: its mount point and device number.
struct FrozenMount {
  std::string path;
  uint64_t device = 0;
};

struct SnapshotRecord {
  std::string id;          // unique name of the snapshot: "<pid>-<n>"
  pid_t pid = 0;           // owner
  uint64_t startTime = 0;  // owner's start time, clock ticks after boot
  std::string engine;      // "reflink", "lvm"
  std::string origin;      // the storage snapshotted
  int64_t created = 0;     // seconds since the epoch
  // reflink: the folder holding the clone, by path and by identity, and the clone's name in it
  std::string folder;
  uint64_t folderDevice = 0;
  uint64_t folderInode = 0;
  std::string clone;
  // lvm: the volume group and the snapshot volume's name
  std::string group;
  std::string volume;
  std::vector<FrozenMount> frozen;  // while the snapshot is being made
};

// The name kestro gives what it makes for snapshot `id`: "kestro-snap-<id>".
std::string SnapshotName(const std::string& id);

// The clone's path or "<group>/<volume>", for people to read.
std::string TargetOf(const SnapshotRecord& record);

// A record for a new snapshot of this process, with a fresh id.
SnapshotRecord NewRecord(const std::string& engine, const std::string& origin);

// Writes `record` to the state folder, replacing any earlier version of it.
bool SaveRecord(const SnapshotRecord& record, std::string& reason);
bool DeleteRecord(const SnapshotRecord& record, std::string& reason);

struct RecordScan {
  std::vector<SnapshotRecord> records;  // in id order
  std::vector<std::string> problems;    // a refused state folder; records not believed, kept
};

// Every record in the state folder that can be believed.
RecordScan ScanRecords();

}  // namespace shadrel::linux_snapshots
