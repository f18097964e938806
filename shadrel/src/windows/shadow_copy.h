// One shadow copy of one volume: made through the backup steps, and released, or undone step by
// step when making it fails, so that nothing the steps made outlives it.
#pragma once

#include <memory>
#include <string>

#include "backup_steps.h"

namespace shadrel {

class ShadowCopy {
 public:
  explicit ShadowCopy(std::unique_ptr<BackupSteps> steps);
  ~ShadowCopy();
  ShadowCopy(const ShadowCopy&) = delete;
  ShadowCopy& operator=(const ShadowCopy&) = delete;

  // Snapshots the volume whose root path ("C:\") is given and returns the snapshot's device
  // path in devicePath. On failure everything made so far is undone and the failing result
  // returned.
  HResult Make(const win32::WCHAR* rootPath, std::basic_string<win32::WCHAR>& devicePath);

  // Completes the backup and deletes the snapshot, and undoes whatever else is still made (after
  // an exception left Make). Returns the first failure among them.
  HResult Release();

 private:
  HResult MakeSnapshot(const win32::WCHAR* rootPath);
  HResult PrepareSnapshotSet(const win32::WCHAR* rootPath);
  // Deletes the snapshot, aborts an unfinished backup, releases the components and COM, as far
  // as each was made. Returns the result of deleting the snapshot.
  HResult Undo();

  std::unique_ptr<BackupSteps> steps_;
  bool comOwed_ = false;
  bool componentsMade_ = false;
  bool backupOpen_ = false;
  bool snapshotMade_ = false;
};

}  // namespace shadrel
