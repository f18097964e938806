#include "housekeeping.h"

#include "held_snapshot.h"
#include "linux_provider.h"
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

}  // namespace

ReapOutcome ReapStale(const std::vector<Engine*>& engines) {
  ReapOutcome outcome;
  for (const SnapshotRecord& record : LoadRecords()) {
    if (ProcessAlive(record.pid, record.startTime)) continue;
    Engine* engine = EngineNamed(engines, record.engine);
    std::string reason = "no engine named " + record.engine;
    if (engine && engine->Remove(record.target, reason) && DeleteRecord(record)) {
      ++outcome.removed;
    } else {
      outcome.failures.push_back(record.id + " (" + record.target + "): " + reason);
    }
  }
  return outcome;
}

}  // namespace linux_snapshots

std::vector<SnapshotEntry> ListSnapshots() {
  std::vector<SnapshotEntry> entries;
  for (const linux_snapshots::SnapshotRecord& record : linux_snapshots::LoadRecords()) {
    entries.push_back(SnapshotEntry{record.id, record.engine, record.origin, record.target,
                                    static_cast<long>(record.pid), record.created,
                                    linux_snapshots::ProcessAlive(record.pid, record.startTime)});
  }
  return entries;
}

ReapOutcome ReapStaleSnapshots() {
  return linux_snapshots::ReapStale(linux_snapshots::DefaultEngines());
}

std::optional<SnapshotFacts> DescribeSnapshot(const CShadrel& requester) {
  if (!linux_snapshots::IsHeld(requester.m_pSnapshot)) return std::nullopt;
  const auto* held = static_cast<const linux_snapshots::HeldSnapshot*>(requester.m_pSnapshot);
  return SnapshotFacts{held->engine->name(), "\\\\?\\GLOBALROOT\\Device\\" + held->device,
                       held->milliseconds};
}

}  // namespace shadrel
