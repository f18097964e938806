#include "shadow_copy.h"

#include <utility>

using namespace win32;

namespace shadrel {
namespace {

// The device path, with its terminator, must fit the caller's MAX_PATH buffer.
constexpr size_t kMaxDevicePathLength = MAX_PATH - 1;

std::basic_string<WCHAR> VolumeName(const WCHAR* rootPath) {
  std::basic_string<WCHAR> volume(rootPath);
  if (volume.empty() || volume.back() != WCHAR('\\')) volume.push_back(WCHAR('\\'));
  return volume;
}

}  // namespace

BackupSteps::~BackupSteps() = default;

ShadowCopy::ShadowCopy(std::unique_ptr<BackupSteps> steps) : steps_(std::move(steps)) {}

ShadowCopy::~ShadowCopy() {
  Release();
}

HResult ShadowCopy::Make(const WCHAR* rootPath, std::basic_string<WCHAR>& devicePath) {
  if (rootPath == nullptr) return kInvalidArgument;
  HResult result = MakeSnapshot(rootPath);
  if (!Failed(result)) result = steps_->SnapshotDeviceObject(devicePath);
  if (!Failed(result) && devicePath.size() > kMaxDevicePathLength) result = kInsufficientBuffer;
  if (Failed(result)) {
    Undo();
    devicePath.clear();
  }
  return Failed(result) ? result : kOk;
}

HResult ShadowCopy::MakeSnapshot(const WCHAR* rootPath) {
  HResult result = steps_->InitializeCom();
  // A thread already in a single-threaded apartment keeps it; COM stays usable there.
  if (result == kChangedMode)
    result = kOk;
  else if (!Failed(result))
    comOwed_ = true;
  if (Failed(result)) return result;

  result = steps_->CreateComponents();
  if (Failed(result)) return result;
  componentsMade_ = true;

  result = steps_->InitializeForBackup();
  if (Failed(result)) return result;
  backupOpen_ = true;

  result = PrepareSnapshotSet(rootPath);
  if (Failed(result)) return result;
  result = steps_->DoSnapshotSet();
  if (Failed(result)) return result;
  snapshotMade_ = true;
  return kOk;
}

HResult ShadowCopy::PrepareSnapshotSet(const WCHAR* rootPath) {
  HResult result = steps_->SetBackupContext();
  if (!Failed(result)) result = steps_->SetCopyBackupState();
  if (!Failed(result)) result = steps_->StartSnapshotSet();
  if (!Failed(result)) result = steps_->AddVolume(VolumeName(rootPath));
  if (!Failed(result)) result = steps_->PrepareForBackup();
  return result;
}

HResult ShadowCopy::Release() {
  HResult completed = kOk;
  if (snapshotMade_) completed = steps_->BackupComplete();
  if (snapshotMade_ && !Failed(completed)) backupOpen_ = false;
  const HResult deleted = Undo();
  return Failed(completed) ? completed : deleted;
}

HResult ShadowCopy::Undo() {
  HResult deleted = kOk;
  if (snapshotMade_) deleted = steps_->DeleteSnapshot();
  if (backupOpen_) steps_->AbortBackup();
  if (componentsMade_) steps_->ReleaseComponents();
  if (comOwed_) steps_->UninitializeCom();
  snapshotMade_ = backupOpen_ = componentsMade_ = comOwed_ = false;
  return Failed(deleted) ? deleted : kOk;
}

}  // namespace shadrel
