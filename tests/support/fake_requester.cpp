#include "fake_requester.h"

#include <algorithm>

#include <win32/utf.h>

namespace kestro::testing {

FakeRequester::FakeRequester(win32::testing::FakeBackend* log) : log_(log), installed_(*this) {}

FakeRequester::~FakeRequester() = default;

void FakeRequester::Event(const std::string& name) {
  events.push_back(name);
  if (log_) log_->Note("requester." + name);
}

void FakeRequester::Construct(CShadrel& self) {
  self.m_pSnapshot = nullptr;
  Event("construct");
}

void FakeRequester::Copy(CShadrel& self, const CShadrel& source) {
  self.m_pSnapshot = source.m_pSnapshot;
  Event("copy");
}

void FakeRequester::Assign(CShadrel& self, const CShadrel& source) {
  self.m_pSnapshot = source.m_pSnapshot;
  Event("assign");
}

void FakeRequester::Destroy(CShadrel&) {
  Event("destroy");
}

int FakeRequester::StartBackupNoWriter(CShadrel&, win32::WCHAR* rootPath,
                                       win32::WCHAR* snapshotPath, int& rootLength) {
  Event("start");
  lastRoot = kestro::Utf16(rootPath);
  lastRootLength = rootLength;
  using namespace win32;
  const size_t n = std::min<size_t>(startPath.size(), MAX_PATH);
  std::copy_n(startPath.begin(), n, snapshotPath);
  return startResult;
}

int FakeRequester::BackupComplete(CShadrel&) {
  Event("complete");
  return 0;
}

}  // namespace kestro::testing
