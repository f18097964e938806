// Snapshots left behind by owners that died: found through their records and removed by the
// engine that made them.
#pragma once

#include <vector>

#include <shadrel/snapshots.h>

#include "engine.h"

namespace shadrel::linux_snapshots {

ReapOutcome ReapStale(const std::vector<Engine*>& engines);

}  // namespace shadrel::linux_snapshots
