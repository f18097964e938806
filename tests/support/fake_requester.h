// A snapshot provider for tests: records every requester operation in order and answers
// VssStartBackupNoWriter as the test says.
#pragma once

#include <string>
#include <vector>

#include <fake_backend.h>
#include <shadrel/provider.h>

namespace kestro::testing {

class FakeRequester : public shadrel::Provider {
 public:
  // Events also go to `log`'s call list when given, so they can be ordered against device calls.
  explicit FakeRequester(win32::testing::FakeBackend* log = nullptr);
  ~FakeRequester() override;

  // How the next starts answer: the result, and the characters written into the path buffer
  // (copied as given, so a test can leave out the terminator or fill all 260 places).
  int startResult = 0;
  std::u16string startPath = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1";

  std::vector<std::string> events;  // "construct", "copy", "assign", "destroy", "start", "complete"
  std::u16string lastRoot;
  int lastRootLength = -1;

  void Construct(CShadrel& self) override;
  void Copy(CShadrel& self, const CShadrel& source) override;
  void Assign(CShadrel& self, const CShadrel& source) override;
  void Destroy(CShadrel& self) override;
  int StartBackupNoWriter(CShadrel& self, win32::WCHAR* rootPath, win32::WCHAR* snapshotPath,
                          int& rootLength) override;
  int BackupComplete(CShadrel& self) override;

 private:
  void Event(const std::string& name);

  win32::testing::FakeBackend* log_;
  shadrel::ScopedProvider installed_;
};

}  // namespace kestro::testing
