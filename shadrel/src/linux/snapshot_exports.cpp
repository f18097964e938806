// What the library exports about Linux snapshots, built into the shared library only: the
// engines' own state lives there.
#include <shadrel/snapshots.h>

#include "held_snapshot.h"
#include "housekeeping.h"
#include "linux_provider.h"
#include "platform_provider.h"
#include "private_dir.h"
#include "process_identity.h"
#include "snapshot_record.h"

namespace shadrel {

SnapshotList ListSnapshots() {
  linux_snapshots::RecordScan scan = linux_snapshots::ScanRecords();
  SnapshotList list;
  list.problems = std::move(scan.problems);
  for (const linux_snapshots::SnapshotRecord& record : scan.records) {
    list.entries.push_back(
        SnapshotEntry{record.id, record.engine, linux_snapshots::Printable(record.origin),
                      linux_snapshots::Printable(linux_snapshots::TargetOf(record)),
                      static_cast<long>(record.pid), record.created,
                      linux_snapshots::ProcessAlive(record.pid, record.startTime)});
  }
  return list;
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

std::string LastSnapshotFailure() {
  return linux_snapshots::LastFailure();
}

std::string LastReleaseFailure() {
  return linux_snapshots::ReleaseFailure();
}

Provider& PlatformProvider() {
  static linux_snapshots::LinuxProvider provider(linux_snapshots::DefaultEngines());
  return provider;
}

}  // namespace shadrel
