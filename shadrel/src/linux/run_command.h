// Runs a system tool without a shell and keeps what it says: its report on standard output, and
// its standard error for reasons.
#pragma once

#include <string>
#include <vector>

namespace shadrel::linux_snapshots {

struct CommandOutcome {
  bool succeeded = false;
  std::string errors;  // its standard error, trimmed, or why it could not run
  std::string output;  // its standard output
};

// Runs argv[0], looked up on PATH, with argv.
CommandOutcome RunCommand(const std::vector<std::string>& argv);

}  // namespace shadrel::linux_snapshots
