// One way of making snapshots (a reflink clone, an LVM snapshot volume): what the provider asks
// of each in turn until one takes the volume.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <win32/volume_storage.h>

namespace shadrel::linux_snapshots {

// Records the snapshot about to be made under `target` (clone path, volume group/volume name)
// before anything exists, so that a process that dies half-way leaves it reapable. False, with a
// reason, when the record cannot be kept; the engine then makes nothing.
using NoteTarget = std::function<bool(const std::string& target, std::string& reason)>;

struct Attempt {
  bool claimed = false;  // the storage is of this engine's kind, whether or not it worked
  std::optional<kestro::VolumeStorage> storage;  // the snapshot's bytes, when made
  std::string reason;                            // why not, when not made
  bool leftover = false;  // something was created and could not be removed again
};

class Engine {
 public:
  virtual ~Engine() = default;

  virtual const char* name() const = 0;

  // Snapshots the volume held by `origin`; `id` is unique among this machine's snapshots.
  virtual Attempt Make(const kestro::VolumeStorage& origin, const std::string& id,
                       const NoteTarget& note) = 0;

  // Removes a snapshot this engine made under `target`; one already gone counts as removed.
  virtual bool Remove(const std::string& target, std::string& reason) = 0;
};

}  // namespace shadrel::linux_snapshots
