// Snapshots of file-backed volumes: the image file (or a loop device's backing file) is cloned
// with FICLONE into a private folder on the same file system, which shares every block until one
// side writes it. The clone, "kestro-snap-<id>", goes in KESTRO_SNAPSHOT_DIR, else in
// ".kestro-snapshots" beside the image; the folder is opened once and used through its
// descriptor. Data is never copied: a file system that cannot clone fails the snapshot.
#pragma once

#include "engine.h"

namespace shadrel::linux_snapshots {

class ReflinkEngine : public Engine {
 public:
  const char* name() const override { return "reflink"; }
  Attempt Make(const kestro::VolumeStorage& origin, SnapshotRecord& record) override;
  bool Remove(const SnapshotRecord& record, std::string& reason) override;
};

}  // namespace shadrel::linux_snapshots
