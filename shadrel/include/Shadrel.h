// Shadrel: makes a point-in-time snapshot of a volume and names a device that presents it.
//
// A requester holds at most one snapshot. Copies of a requester share that snapshot; it is
// released once the last holder has completed it or been destroyed; on Linux it lasts besides
// until no handle opened on its device is open.
#pragma once

#include <win32/windows.h>

#if defined(_WIN32)
#if defined(SHADREL_EXPORTS)
#define SHADREL_API __declspec(dllexport)
#else
#define SHADREL_API __declspec(dllimport)
#endif
#else
#define SHADREL_API __attribute__((visibility("default")))
#endif

class SHADREL_API CShadrel {
 public:
  CShadrel();
  CShadrel(const CShadrel& other);
  CShadrel& operator=(const CShadrel& other);
  virtual ~CShadrel();

  // Snapshots the volume whose root path ("C:\") is given and writes the snapshot device path
  // (at most MAX_PATH characters with its terminator) into snapshotPath. rootLength holds the
  // root path's length in characters. Returns 0 on success, an error code otherwise.
  int VssStartBackupNoWriter(win32::WCHAR* rootPath, win32::WCHAR* snapshotPath, int& rootLength);

  // Releases this requester's hold on its snapshot, if it has one. Harmless otherwise.
  int VssBackupComplete();

  // The snapshot this requester holds; managed by the snapshot provider.
  void* m_pSnapshot = nullptr;
};
