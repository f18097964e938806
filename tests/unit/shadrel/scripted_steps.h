// Backup steps for tests: each call is logged by name into a list the test owns, and any step can
// be told to fail with a given result.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <backup_steps.h>

namespace shadrel::testing {

struct StepScript {
  std::vector<std::string> calls;
  std::map<std::string, HResult> results;  // by step name; a missing one succeeds
  std::basic_string<win32::WCHAR> devicePath =
      WTEXT("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3");
  std::basic_string<win32::WCHAR> volume;
};

class ScriptedSteps : public BackupSteps {
 public:
  explicit ScriptedSteps(StepScript& script) : script_(script) {}

  HResult InitializeCom() override { return Call("InitializeCom"); }
  void UninitializeCom() override { Call("UninitializeCom"); }
  HResult CreateComponents() override { return Call("CreateComponents"); }
  void ReleaseComponents() override { Call("ReleaseComponents"); }
  HResult InitializeForBackup() override { return Call("InitializeForBackup"); }
  HResult SetBackupContext() override { return Call("SetBackupContext"); }
  HResult SetCopyBackupState() override { return Call("SetCopyBackupState"); }
  HResult StartSnapshotSet() override { return Call("StartSnapshotSet"); }
  HResult AddVolume(const std::basic_string<win32::WCHAR>& volume) override {
    script_.volume = volume;
    return Call("AddVolume");
  }
  HResult PrepareForBackup() override { return Call("PrepareForBackup"); }
  HResult DoSnapshotSet() override { return Call("DoSnapshotSet"); }
  HResult SnapshotDeviceObject(std::basic_string<win32::WCHAR>& path) override {
    path = script_.devicePath;
    return Call("SnapshotDeviceObject");
  }
  HResult BackupComplete() override { return Call("BackupComplete"); }
  HResult AbortBackup() override { return Call("AbortBackup"); }
  HResult DeleteSnapshot() override { return Call("DeleteSnapshot"); }

 private:
  HResult Call(const std::string& name) {
    script_.calls.push_back(name);
    const auto scripted = script_.results.find(name);
    return scripted == script_.results.end() ? kOk : scripted->second;
  }

  StepScript& script_;
};

}  // namespace shadrel::testing
