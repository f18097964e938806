// The steps of one copy backup of one volume through the system's shadow-copy service, each a
// thin call (or call and wait) on the backup components. The shadow copy drives them in order
// and undoes what it made; a test drives it over scripted steps instead of the service.
#pragma once

#include <string>

#include <win32/windows.h>

namespace shadrel {

// A COM result code: negative is a failure.
using HResult = win32::LONG;

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;  // success: COM was already initialised on this thread
inline constexpr HResult kChangedMode = static_cast<HResult>(0x80010106u);
inline constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kInsufficientBuffer = static_cast<HResult>(0x8007007Au);

inline bool Failed(HResult result) {
  return result < 0;
}

class BackupSteps {
 public:
  virtual ~BackupSteps();

  virtual HResult InitializeCom() = 0;
  virtual void UninitializeCom() = 0;
  virtual HResult CreateComponents() = 0;
  virtual void ReleaseComponents() = 0;
  // InitializeForBackup.
  virtual HResult InitializeForBackup() = 0;
  // SetContext for a backup snapshot.
  virtual HResult SetBackupContext() = 0;
  // SetBackupState: a copy backup without components or bootable system state.
  virtual HResult SetCopyBackupState() = 0;
  virtual HResult StartSnapshotSet() = 0;
  // AddToSnapshotSet with the default provider; the step keeps the snapshot's id.
  virtual HResult AddVolume(const std::basic_string<win32::WCHAR>& volume) = 0;
  // PrepareForBackup, then the result of its asynchronous work.
  virtual HResult PrepareForBackup() = 0;
  // DoSnapshotSet, then the result of its asynchronous work.
  virtual HResult DoSnapshotSet() = 0;
  // The snapshot's device object, from its properties.
  virtual HResult SnapshotDeviceObject(std::basic_string<win32::WCHAR>& path) = 0;
  // BackupComplete, then the result of its asynchronous work.
  virtual HResult BackupComplete() = 0;
  virtual HResult AbortBackup() = 0;
  virtual HResult DeleteSnapshot() = 0;
};

}  // namespace shadrel
