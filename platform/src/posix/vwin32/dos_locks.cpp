#include "vwin32/dos_locks.h"

#include <map>
#include <mutex>

#include "vwin32/dos_registers.h"

namespace kestro::posix {
namespace {

constexpr WORD kAllowWrites = 0x0001;  // permission bit given with the level-1 lock

struct HeldLock {
  const DosLockOwner* owner = nullptr;
  VolumeLockState state;
};

std::mutex g_mutex;
std::map<char, HeldLock> g_locks;  // by drive letter; only locked drives have an entry

}  // namespace

DosLockOwner::~DosLockOwner() {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::erase_if(g_locks, [this](const auto& entry) { return entry.second.owner == this; });
}

WORD TakeVolumeLock(char letter, const DosLockOwner& owner, unsigned level, WORD permissions) {
  if (level > kHighestLockLevel) return ERROR_INVALID_FUNCTION;
  std::lock_guard<std::mutex> guard(g_mutex);
  auto found = g_locks.find(letter);
  const bool held = found != g_locks.end();
  if (held && found->second.owner != &owner) return ERROR_ACCESS_DENIED;
  const int current = held ? found->second.state.level : kNotLocked;
  if (static_cast<int>(level) != current + 1) return ERROR_ACCESS_DENIED;
  HeldLock& lock = g_locks[letter];
  lock.owner = &owner;
  lock.state.level = static_cast<int>(level);
  if (level == 1) lock.state.permissions = permissions;
  return 0;
}

WORD ReleaseVolumeLock(char letter, const DosLockOwner& owner) {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto found = g_locks.find(letter);
  if (found == g_locks.end() || found->second.owner != &owner) return ERROR_ACCESS_DENIED;
  VolumeLockState& state = found->second.state;
  if (--state.level == kNotLocked) {
    g_locks.erase(found);
  } else if (state.level == 0) {
    state.permissions = 0;
  }
  return 0;
}

VolumeLockState CurrentLock(char letter) {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto found = g_locks.find(letter);
  return found == g_locks.end() ? VolumeLockState{} : found->second.state;
}

bool LockAllowsTransfer(char letter, const DosLockOwner& owner, bool write) {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto found = g_locks.find(letter);
  if (found == g_locks.end() || found->second.owner == &owner) return true;
  const VolumeLockState& state = found->second.state;
  switch (state.level) {
    case 1:
      return !write || (state.permissions & kAllowWrites);
    case 2:
      return !write;
    default:
      return false;
  }
}

}  // namespace kestro::posix
