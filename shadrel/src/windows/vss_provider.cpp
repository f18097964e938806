#include "vss_provider.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "shared_shadow_copy.h"

using namespace win32;

namespace shadrel {

VssProvider::VssProvider(StepsFactory makeSteps) : makeSteps_(std::move(makeSteps)) {}

void VssProvider::Construct(CShadrel& self) {
  self.m_pSnapshot = nullptr;
}

void VssProvider::Copy(CShadrel& self, const CShadrel& source) {
  self.m_pSnapshot = SharedShadowCopy::Share(source.m_pSnapshot);
}

void VssProvider::Assign(CShadrel& self, const CShadrel& source) {
  if (self.m_pSnapshot == source.m_pSnapshot) return;
  void* taken = SharedShadowCopy::Share(source.m_pSnapshot);
  SharedShadowCopy::Drop(self.m_pSnapshot);
  self.m_pSnapshot = taken;
}

void VssProvider::Destroy(CShadrel& self) {
  SharedShadowCopy::Drop(self.m_pSnapshot);
}

int VssProvider::StartBackupNoWriter(CShadrel& self, WCHAR* rootPath, WCHAR* snapshotPath, int&) {
  try {
    return static_cast<int>(Start(self, rootPath, snapshotPath));
  } catch (const std::bad_alloc&) {
    return static_cast<int>(kOutOfMemory);
  }
}

int VssProvider::BackupComplete(CShadrel& self) {
  return static_cast<int>(SharedShadowCopy::Drop(self.m_pSnapshot));
}

// The snapshot held before stays held until the new one is made.
HResult VssProvider::Start(CShadrel& self, const WCHAR* rootPath, WCHAR* snapshotPath) {
  if (snapshotPath == nullptr) return kInvalidArgument;
  auto shared = std::make_unique<SharedShadowCopy>(makeSteps_());
  std::basic_string<WCHAR> devicePath;
  const HResult result = shared->Copy().Make(rootPath, devicePath);
  if (Failed(result)) return result;
  std::copy_n(devicePath.c_str(), devicePath.size() + 1, snapshotPath);
  SharedShadowCopy::Drop(self.m_pSnapshot);
  self.m_pSnapshot = shared.release();
  return kOk;
}

}  // namespace shadrel
