#include "housekeeping.h"

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
}  // namespace shadrel
