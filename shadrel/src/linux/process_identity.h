// A process told apart from a later one that reuses its id: the pair of id and start time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace shadrel::linux_snapshots {

// The start time of process `pid` in clock ticks after boot (/proc/<pid>/stat field 22), or
// nullopt when no such process runs.
std::optional<uint64_t> ProcessStartTime(pid_t pid);

// Whether the process that started at `startTime` with id `pid` is still running.
bool ProcessAlive(pid_t pid, uint64_t startTime);

}  // namespace shadrel::linux_snapshots
