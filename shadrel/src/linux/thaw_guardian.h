// A child process that thaws frozen file systems if the process that froze them dies first.
//
// The child holds the mount points' descriptors and the read end of a pipe whose write end only
// the freezing process holds (close-on-exec, and the child closes every other descriptor). When
// that process ends, however it ends, the kernel closes the write end; the child reads end of
// file and thaws (FITHAW) every file system, then exits. A death signal would not do: it follows
// the thread that forked, not the process. A freezer that thaws by itself dismisses the child.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace shadrel::linux_snapshots {

class ThawGuardian {
 public:
  ThawGuardian() = default;
  ~ThawGuardian();
  ThawGuardian(const ThawGuardian&) = delete;
  ThawGuardian& operator=(const ThawGuardian&) = delete;

  // Starts the child guarding the file systems whose mount points `mounts` has open; false with
  // a reason when it cannot be started.
  bool Start(const std::vector<int>& mounts, std::string& reason);

  // Tells the child its file systems are thawed and waits for it to end.
  void Dismiss();

 private:
  void Finish(bool thawed);

  pid_t child_ = -1;
  int pipe_ = -1;  // the write end
};

}  // namespace shadrel::linux_snapshots
