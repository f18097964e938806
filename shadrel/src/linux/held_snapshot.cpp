#include "held_snapshot.h"

#include <unistd.h>

#include <mutex>
#include <set>

#include <win32/volume_storage.h>

namespace shadrel::linux_snapshots {
namespace {

struct Held {
  std::mutex mutex;
  std::set<const void*> snapshots;
  // Any thread may close the last handle on a snapshot, so this is the process's, not a thread's.
  std::string releaseFailure;
};

Held& HeldNow() {
  static Held* held = new Held();
  return *held;
}

void Forget(const HeldSnapshot* snapshot) {
  Held& held = HeldNow();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.snapshots.erase(snapshot);
}

}  // namespace

HeldSnapshot* Hold(HeldSnapshot* snapshot) {
  Held& held = HeldNow();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.snapshots.insert(snapshot);
  return snapshot;
}

HeldSnapshot* AddHolder(void* snapshot) {
  auto* held = static_cast<HeldSnapshot*>(snapshot);
  if (held) held->holders.fetch_add(1, std::memory_order_relaxed);
  return held;
}

std::string PublishDevice(HeldSnapshot& held, const kestro::VolumeStorage& storage) {
  return kestro::PublishDeviceObject("KestroSnapshot", storage, [&held] { Remove(&held); });
}

// The last holder withdraws the device object; the snapshot goes once no handle on it is open.
void LetGo(void* snapshot) {
  auto* held = static_cast<HeldSnapshot*>(snapshot);
  if (held == nullptr || held->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  Forget(held);
  if (!kestro::WithdrawDeviceObject(held->device)) Remove(held);
}

void Remove(HeldSnapshot* held) {
  if (held->kept >= 0) close(held->kept);
  std::string reason;
  if (!held->engine->Remove(held->record, reason) || !DeleteRecord(held->record, reason)) {
    Held& state = HeldNow();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.releaseFailure = "snapshot " + held->record.id + " was kept for a later reap: " + reason;
  }
  delete held;
}

std::string ReleaseFailure() {
  Held& held = HeldNow();
  std::lock_guard<std::mutex> lock(held.mutex);
  return held.releaseFailure;
}

bool IsHeld(const void* snapshot) {
  Held& held = HeldNow();
  std::lock_guard<std::mutex> lock(held.mutex);
  return held.snapshots.count(snapshot) != 0;
}

}  // namespace shadrel::linux_snapshots
