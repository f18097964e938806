// The provider behind every CShadrel operation: the default one works with the platform's
// snapshots; a test installs its own with ScopedProvider to script results and watch each call.
#pragma once

#include <Shadrel.h>

namespace shadrel {

class SHADREL_API Provider {
 public:
  virtual ~Provider();

  virtual void Construct(CShadrel& self) = 0;
  virtual void Copy(CShadrel& self, const CShadrel& source) = 0;
  virtual void Assign(CShadrel& self, const CShadrel& source) = 0;
  virtual void Destroy(CShadrel& self) = 0;
  virtual int StartBackupNoWriter(CShadrel& self, win32::WCHAR* rootPath,
                                  win32::WCHAR* snapshotPath, int& rootLength) = 0;
  virtual int BackupComplete(CShadrel& self) = 0;
};

// The provider CShadrel forwards to.
SHADREL_API Provider& CurrentProvider();

class SHADREL_API ScopedProvider {
 public:
  explicit ScopedProvider(Provider& provider);
  ~ScopedProvider();
  ScopedProvider(const ScopedProvider&) = delete;
  ScopedProvider& operator=(const ScopedProvider&) = delete;

 private:
  Provider* previous_;
};

}  // namespace shadrel
