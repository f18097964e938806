// The requester's provider on Windows: each start makes a shadow copy through the backup steps
// the factory gives, and copies of a requester share it.
#pragma once

#include <functional>
#include <memory>

#include <shadrel/provider.h>

#include "backup_steps.h"

namespace shadrel {

class VssProvider : public Provider {
 public:
  using StepsFactory = std::function<std::unique_ptr<BackupSteps>()>;

  explicit VssProvider(StepsFactory makeSteps);

  void Construct(CShadrel& self) override;
  void Copy(CShadrel& self, const CShadrel& source) override;
  void Assign(CShadrel& self, const CShadrel& source) override;
  void Destroy(CShadrel& self) override;
  int StartBackupNoWriter(CShadrel& self, win32::WCHAR* rootPath, win32::WCHAR* snapshotPath,
                          int& rootLength) override;
  int BackupComplete(CShadrel& self) override;

 private:
  HResult Start(CShadrel& self, const win32::WCHAR* rootPath, win32::WCHAR* snapshotPath);

  StepsFactory makeSteps_;
};

}  // namespace shadrel
