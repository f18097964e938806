// A provider for platforms where no snapshot can be made: every start fails, so the volume is
// read live, and completing is harmless.
#pragma once

#include <shadrel/provider.h>

namespace shadrel {

// VSS_E_VOLUME_NOT_SUPPORTED: snapshots are not supported for this volume.
inline constexpr int kVolumeNotSupported = static_cast<int>(0x8004230Cu);

class UnavailableProvider : public Provider {
 public:
  void Construct(CShadrel& self) override { self.m_pSnapshot = nullptr; }
  void Copy(CShadrel& self, const CShadrel&) override { self.m_pSnapshot = nullptr; }
  void Assign(CShadrel&, const CShadrel&) override {}
  void Destroy(CShadrel&) override {}
  int StartBackupNoWriter(CShadrel&, win32::WCHAR*, win32::WCHAR*, int&) override {
    return kVolumeNotSupported;
  }
  int BackupComplete(CShadrel&) override { return 0; }
};

}  // namespace shadrel
