// Snapshots of file-backed volumes: the image file (or a loop device's backing file) is cloned
// with FICLONE into a private folder on the same file system, which shares every block until one
// side writes it. The clone goes in KESTRO_SNAPSHOT_DIR, else in ".kestro-snapshots" beside the
// image. Data is never copied: a file system that cannot clone fails the snapshot.
#pragma once

#include "engine.h"

namespace shadrel::linux_snapshots {

class ReflinkEngine : public Engine {
 public:
  const char* name() const override { return "reflink"; }
  Attempt Make(const kestro::VolumeStorage& origin, const std::string& id,
               const NoteTarget& note) override;
  bool Remove(const std::string& target, std::string& reason) override;
};

}  // namespace shadrel::linux_snapshots
