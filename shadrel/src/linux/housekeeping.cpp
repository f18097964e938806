#include "housekeeping.h"

#include "frozen_mounts.h"
#include "private_dir.h"
#include "process_identity.h"
#include "snapshot_record.h"

namespace shadrel {
namespace linux_snapshots {
namespace {

Engine* EngineNamed(const std::vector<Engine*>& engines, const std::string& name) {
  for (Engine* engine : engines) {
    if (name == engine->name()) return engine;
  }
  return nullptr;
}

// Thaws what the dead owner of `record` left frozen, then removes its snapshot and the record.
bool Reap(const SnapshotRecord& record, Engine* engine, std::string& reason) {
  for (const FrozenMount& mount : record.frozen) {
    if (!ThawLeftover(mount, reason)) return false;
  }
  if (engine == nullptr) {
    reason = "no engine named " + record.engine;
    return false;
  }
  return engine->Remove(record, reason) && DeleteRecord(record, reason);
}

}  // namespace

ReapOutcome ReapStale(const std::vector<Engine*>& engines) {
  RecordScan scan = ScanRecords();
  ReapOutcome outcome;
  outcome.failures = std::move(scan.problems);
  for (const SnapshotRecord& record : scan.records) {
    if (ProcessAlive(record.pid, record.startTime)) continue;
    std::string reason;
    if (Reap(record, EngineNamed(engines, record.engine), reason)) {
      ++outcome.removed;
    } else {
      outcome.failures.push_back(record.id + " (" + Printable(TargetOf(record)) + "): " + reason);
    }
  }
  return outcome;
}

}  // namespace linux_snapshots
}  // namespace shadrel
