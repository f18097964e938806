// kestro snapshots [--reap]: the snapshots on record, live and stale, and the removal of those
// whose owner died.
#include <shadrel/snapshots.h>

#include <cstdio>
#include <ctime>

#include "commands/commands.h"
#include "support/errors.h"
#include "support/table.h"

namespace kestro::cli {
namespace {

struct SnapshotsOptions {
  bool reap = false;  // remove the stale ones instead of listing
};

std::string Age(int64_t created) {
  const int64_t seconds = std::max<int64_t>(0, static_cast<int64_t>(std::time(nullptr)) - created);
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 7200) return std::to_string(seconds / 60) + " min";
  if (seconds < 172800) return std::to_string(seconds / 3600) + " h";
  return std::to_string(seconds / 86400) + " d";
}

// Says what could not be believed or removed; the command then fails.
int Outcome(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) Warn("snapshot", problem);
  return problems.empty() ? kExitSuccess : kExitFailure;
}

int ListAll() {
  const shadrel::SnapshotList list = shadrel::ListSnapshots();
  if (list.entries.empty() && list.problems.empty()) std::printf("no snapshots\n");
  if (list.entries.empty()) return Outcome(list.problems);
  std::vector<Row> rows{{"ID", "ENGINE", "ORIGIN", "OWNER", "AGE", "STATE", "SNAPSHOT"}};
  for (const shadrel::SnapshotEntry& entry : list.entries) {
    rows.push_back({entry.id, entry.engine, entry.origin, std::to_string(entry.pid),
                    Age(entry.created), entry.live ? "live" : "stale", entry.target});
  }
  PrintTable(rows);
  return Outcome(list.problems);
}

int Reap() {
  const shadrel::ReapOutcome outcome = shadrel::ReapStaleSnapshots();
  // A count of none beside a refusal would read as "nothing was stale", which nobody knows.
  if (outcome.removed > 0 || outcome.failures.empty()) {
    std::printf("removed %d stale snapshot%s\n", outcome.removed, outcome.removed == 1 ? "" : "s");
  }
  return Outcome(outcome.failures);
}

int RunSnapshots(const SnapshotsOptions& options) {
  return options.reap ? Reap() : ListAll();
}

}  // namespace

Command AddSnapshots(CLI::App& app) {
  auto options = std::make_shared<SnapshotsOptions>();
  CLI::App* snapshots =
      app.add_subcommand("snapshots", "List the snapshots on record, live and stale");
  snapshots->add_flag("--reap", options->reap, "Remove the stale snapshots, whose owner is gone");
  return {snapshots, [options] { return RunSnapshots(*options); }};
}

}  // namespace kestro::cli
