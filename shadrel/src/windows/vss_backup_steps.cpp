#include "vss_backup_steps.h"

#include <win32/windows.h>

#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>

namespace shadrel {
namespace {

// Waits for the service's asynchronous work and answers its outcome as a result code.
template <typename Call>
HResult Await(Call call) {
  IVssAsync* async = nullptr;
  HRESULT result = call(&async);
  if (FAILED(result)) return result;
  result = async->Wait(INFINITE);
  HRESULT status = result;
  if (SUCCEEDED(result)) result = async->QueryStatus(&status, nullptr);
  async->Release();
  if (FAILED(result)) return result;
  if (status == VSS_S_ASYNC_CANCELLED) return E_ABORT;
  if (status == VSS_S_ASYNC_PENDING) return E_UNEXPECTED;
  return status;
}

class VssBackupSteps : public BackupSteps {
 public:
  HResult InitializeCom() override {
    comThread_ = GetCurrentThreadId();
    return CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }

  // COM's initialisation belongs to its thread: a backup released on another thread leaves that
  // one to the thread that made it, rather than unbalancing the releasing thread's.
  void UninitializeCom() override {
    if (GetCurrentThreadId() == comThread_) CoUninitialize();
  }

  HResult CreateComponents() override { return CreateVssBackupComponents(&components_); }

  void ReleaseComponents() override {
    components_->Release();
    components_ = nullptr;
  }

  HResult InitializeForBackup() override { return components_->InitializeForBackup(); }

  HResult SetBackupContext() override { return components_->SetContext(VSS_CTX_BACKUP); }

  HResult SetCopyBackupState() override {
    return components_->SetBackupState(false, false, VSS_BT_COPY, false);
  }

  HResult StartSnapshotSet() override { return components_->StartSnapshotSet(&snapshotSetId_); }

  HResult AddVolume(const std::basic_string<WCHAR>& volume) override {
    volume_ = volume;
    return components_->AddToSnapshotSet(volume_.data(), GUID_NULL, &snapshotId_);
  }

  HResult PrepareForBackup() override {
    return Await([this](IVssAsync** async) { return components_->PrepareForBackup(async); });
  }

  HResult DoSnapshotSet() override {
    return Await([this](IVssAsync** async) { return components_->DoSnapshotSet(async); });
  }

  HResult SnapshotDeviceObject(std::basic_string<WCHAR>& path) override {
    VSS_SNAPSHOT_PROP properties = {};
    const HRESULT result = components_->GetSnapshotProperties(snapshotId_, &properties);
    if (FAILED(result)) return result;
    if (properties.m_pwszSnapshotDeviceObject != nullptr)
      path = properties.m_pwszSnapshotDeviceObject;
    VssFreeSnapshotProperties(&properties);
    return path.empty() ? VSS_E_UNEXPECTED : S_OK;
  }

  HResult BackupComplete() override {
    return Await([this](IVssAsync** async) { return components_->BackupComplete(async); });
  }

  HResult AbortBackup() override { return components_->AbortBackup(); }

  HResult DeleteSnapshot() override {
    LONG deleted = 0;
    VSS_ID notDeleted = GUID_NULL;
    return components_->DeleteSnapshots(snapshotId_, VSS_OBJECT_SNAPSHOT, TRUE, &deleted,
                                        &notDeleted);
  }

 private:
  DWORD comThread_ = 0;
  IVssBackupComponents* components_ = nullptr;
  VSS_ID snapshotSetId_ = GUID_NULL;
  VSS_ID snapshotId_ = GUID_NULL;
  // AddToSnapshotSet takes a writable string.
  std::basic_string<WCHAR> volume_;
};

}  // namespace

std::unique_ptr<BackupSteps> MakeVssBackupSteps() {
  return std::make_unique<VssBackupSteps>();
}

}  // namespace shadrel
