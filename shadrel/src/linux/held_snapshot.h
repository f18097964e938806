// A snapshot while requesters hold it: copies of a requester share it, and the last holder to
// let go removes it.
#pragma once

#include <atomic>
#include <string>

#include <win32/volume_storage.h>

#include "engine.h"
#include "snapshot_record.h"

namespace shadrel::linux_snapshots {

struct HeldSnapshot {
  Engine* engine = nullptr;
  SnapshotRecord record;
  std::string device;  // the published device object's name
  int kept = -1;       // the engine's descriptor of the snapshot, closed before it is removed
  double milliseconds = 0;
  std::atomic<int> holders{1};
};

// Starts holding a newly made snapshot: the first holder.
HeldSnapshot* Hold(HeldSnapshot* snapshot);

// One more holder of `snapshot` (which may be null).
HeldSnapshot* AddHolder(void* snapshot);

// Publishes the device object presenting `storage` for `held`; the snapshot is removed once its
// last holder has let go and the last handle opened on the device has closed.
std::string PublishDevice(HeldSnapshot& held, const kestro::VolumeStorage& storage);

// Lets go of `snapshot` (which may be null); the last holder withdraws its device.
void LetGo(void* snapshot);

// Removes a snapshot nothing holds or reads any more, and its record, or leaves the record for a
// later reap when it cannot be removed.
void Remove(HeldSnapshot* held);

// Whether `snapshot` is one held now, so its facts may be read.
bool IsHeld(const void* snapshot);

// Why the last snapshot removal in this process left its snapshot for a later reap; "" when none
// did. The requester prints nothing: the host asks.
std::string ReleaseFailure();

}  // namespace shadrel::linux_snapshots
