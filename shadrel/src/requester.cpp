// CShadrel forwards each operation to the current provider.
#include <Shadrel.h>

#include <shadrel/provider.h>

CShadrel::CShadrel() {
  shadrel::CurrentProvider().Construct(*this);
}

CShadrel::CShadrel(const CShadrel& other) {
  shadrel::CurrentProvider().Copy(*this, other);
}

// The provider decides what an assignment shares, self-assignment included.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
CShadrel& CShadrel::operator=(const CShadrel& other) {
  shadrel::CurrentProvider().Assign(*this, other);
  return *this;
}

CShadrel::~CShadrel() {
  shadrel::CurrentProvider().Destroy(*this);
}

int CShadrel::VssStartBackupNoWriter(win32::WCHAR* rootPath, win32::WCHAR* snapshotPath,
                                     int& rootLength) {
  return shadrel::CurrentProvider().StartBackupNoWriter(*this, rootPath, snapshotPath, rootLength);
}

int CShadrel::VssBackupComplete() {
  return shadrel::CurrentProvider().BackupComplete(*this);
}
