// One way of making snapshots (a reflink clone, an LVM snapshot volume): what the provider asks
// of each in turn until one takes the volume.
#pragma once

#include <optional>
#include <string>

#include <win32/volume_storage.h>

#include "snapshot_record.h"

namespace shadrel::linux_snapshots {

struct Attempt {
  bool claimed = false;  // the storage is of this engine's kind, whether or not it worked
  std::optional<kestro::VolumeStorage> storage;  // the snapshot's bytes, when made
  std::string reason;                            // why not, when not made
  bool leftover = false;  // something was created and could not be removed again
  // A descriptor of the snapshot, or -1, that the holder keeps open until it removes it, so that
  // the storage's path (/proc/self/fd/N) reaches this file whatever is renamed meanwhile.
  int kept = -1;
};

class Engine {
 public:
  virtual ~Engine() = default;

  virtual const char* name() const = 0;

  // Snapshots the volume held by `origin`. It fills in `record` and saves it before it makes or
  // freezes anything, so that a process that dies half-way leaves a record to reap by; when the
  // record cannot be saved it makes nothing.
  virtual Attempt Make(const kestro::VolumeStorage& origin, SnapshotRecord& record) = 0;

  // Removes the snapshot `record` names once it has proved this engine made it; one already gone
  // counts as removed. False with a reason, keeping it, when it cannot or may not.
  virtual bool Remove(const SnapshotRecord& record, std::string& reason) = 0;
};

}  // namespace shadrel::linux_snapshots
