// Logical-volume locks of the VWIN32 device, shared by every handle of the process.
//
// A lock is taken level by level, 0 to 3 in order, by one handle, and released by as many
// unlocks; the permission word given with the level-1 lock says whether other handles may still
// write. While a drive is locked, other handles' transfers are refused as the level demands:
// level 0 refuses reads and writes, levels 1 and 2 refuse writes (level 1 only without the write
// permission), level 3 refuses both. Closing the handle that took a lock releases it.
#pragma once

#include <win32/types.h>

namespace kestro::posix {

using namespace win32;

// Stands for one open VWIN32 handle; the locks it holds go with it.
class DosLockOwner {
 public:
  DosLockOwner() = default;
  DosLockOwner(const DosLockOwner&) = delete;
  DosLockOwner& operator=(const DosLockOwner&) = delete;
  ~DosLockOwner();
};

inline constexpr int kNotLocked = -1;
inline constexpr unsigned kHighestLockLevel = 3;

struct VolumeLockState {
  int level = kNotLocked;
  WORD permissions = 0;
};

// Each returns 0 on success or the DOS error code of the refusal.
WORD TakeVolumeLock(char letter, const DosLockOwner& owner, unsigned level, WORD permissions);
WORD ReleaseVolumeLock(char letter, const DosLockOwner& owner);

VolumeLockState CurrentLock(char letter);

// Whether `owner` may read (or write) drive `letter` under the lock someone may hold on it.
bool LockAllowsTransfer(char letter, const DosLockOwner& owner, bool write);

}  // namespace kestro::posix
