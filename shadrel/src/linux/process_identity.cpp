#include "process_identity.h"

#include <fstream>
#include <sstream>
#include <string>

namespace shadrel::linux_snapshots {

std::optional<uint64_t> ProcessStartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // The command name in parentheses may hold blanks; the fields after it are plain.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  std::string state;
  fields >> state;
  // A zombie has ended: its descriptors are closed and nothing it held is held any more.
  if (state == "Z" || state == "X") return std::nullopt;
  std::string field;
  for (int index = 4; index < 22; ++index) fields >> field;  // fields 4 to 21
  uint64_t startTime = 0;
  if (!(fields >> startTime)) return std::nullopt;
  return startTime;
}

bool ProcessAlive(pid_t pid, uint64_t startTime) {
  const auto now = ProcessStartTime(pid);
  return now && *now == startTime;
}

}  // namespace shadrel::linux_snapshots
