// The requester on Linux: the first engine whose kind of storage holds the volume snapshots it,
// and the snapshot is published as a device object the library opens like the volume.
#pragma once

#include <vector>

#include <shadrel/provider.h>

#include "engine.h"

namespace shadrel::linux_snapshots {

// VSS-style results of a start that made no snapshot.
inline constexpr int kVolumeNotSupported = static_cast<int>(0x8004230Cu);

inline constexpr int kObjectNotFound = static_cast<int>(0x80042308u);
inline constexpr int kProviderError = static_cast<int>(0x8004230Fu);

class LinuxProvider : public Provider {
 public:
  // `engines` are tried in order and outlive the provider's snapshots.
  explicit LinuxProvider(std::vector<Engine*> engines) : engines_(std::move(engines)) {}

  void Construct(CShadrel& self) override;
  void Copy(CShadrel& self, const CShadrel& source) override;
  void Assign(CShadrel& self, const CShadrel& source) override;
  void Destroy(CShadrel& self) override;
  int StartBackupNoWriter(CShadrel& self, win32::WCHAR* rootPath, win32::WCHAR* snapshotPath,
                          int& rootLength) override;
  int BackupComplete(CShadrel& self) override;

  const std::vector<Engine*>& engines() const { return engines_; }

 private:
  std::vector<Engine*> engines_;
};

// The reflink and LVM engines, in that order.
const std::vector<Engine*>& DefaultEngines();

// Why this thread's last start failed; "" after a success.
std::string LastFailure();

// Records why the last start of this thread failed.
int FailStart(int code, const std::string& reason);

}  // namespace shadrel::linux_snapshots
