// Snapshots of LVM logical volumes: a snapshot volume "kestro-snap-<id>" made with "lvm lvcreate
// --snapshot --addtag kestro-snapshot" and removed with "lvm lvremove -f" only after "lvm lvs"
// shows a snapshot volume of that name carrying that tag. Its size is KESTRO_LVM_SNAPSHOT_SIZE
// bytes, else a tenth of the origin's.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "engine.h"

namespace shadrel::linux_snapshots {

struct LogicalVolume {
  std::string group;
  std::string volume;
};

// The logical volume the block device at `path` is, or nullopt when it is none.
using LvmProbe = std::function<std::optional<LogicalVolume>(const std::string& path)>;

// Asks device-mapper: /sys/class/block/dm-N/dm/uuid starts with "LVM-" for logical volumes, and
// dm/name is "<group>-<volume>" with each '-' inside a name doubled.
std::optional<LogicalVolume> ProbeDeviceMapper(const std::string& path);

class LvmEngine : public Engine {
 public:
  explicit LvmEngine(LvmProbe probe = ProbeDeviceMapper,
                     std::chrono::milliseconds deviceWait = std::chrono::seconds(5))
      : probe_(std::move(probe)), deviceWait_(deviceWait) {}

  const char* name() const override { return "lvm"; }
  Attempt Make(const kestro::VolumeStorage& origin, SnapshotRecord& record) override;
  bool Remove(const SnapshotRecord& record, std::string& reason) override;

 private:
  LvmProbe probe_;
  std::chrono::milliseconds deviceWait_;  // how long the snapshot's device node may take
};

}  // namespace shadrel::linux_snapshots
