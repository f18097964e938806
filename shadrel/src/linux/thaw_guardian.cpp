#include "thaw_guardian.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

constexpr char kThawed = 't';

// Closes every descriptor but those in `kept` (sorted); only system calls, as after fork.
void CloseAllBut(const std::vector<int>& kept) {
  unsigned next = 0;
  for (const int fd : kept) {
    if (static_cast<unsigned>(fd) > next) close_range(next, static_cast<unsigned>(fd) - 1, 0);
    next = static_cast<unsigned>(fd) + 1;
  }
  close_range(next, UINT_MAX, 0);
}

[[noreturn]] void Guard(int readEnd, const std::vector<int>& kept) {
  CloseAllBut(kept);
  // Terminal and service-manager signals that end the backup must not end its guardian first.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) std::signal(signal, SIG_IGN);
  char said = 0;
  ssize_t n;
  while ((n = read(readEnd, &said, 1)) < 0 && errno == EINTR) {
  }
  if (n != 1 || said != kThawed) {
    for (const int fd : kept) {
      if (fd != readEnd) ioctl(fd, FITHAW, 0);
    }
  }
  _exit(0);
}

}  // namespace

ThawGuardian::~ThawGuardian() {
  Finish(false);
}

bool ThawGuardian::Start(const std::vector<int>& mounts, std::string& reason) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    reason = WithErrno("cannot start the thaw guardian");
    return false;
  }
  std::vector<int> kept = mounts;
  kept.push_back(fds[0]);
  std::sort(kept.begin(), kept.end());
  const pid_t child = fork();
  if (child == 0) Guard(fds[0], kept);
  close(fds[0]);
  if (child < 0) {
    reason = WithErrno("cannot start the thaw guardian");
    close(fds[1]);
    return false;
  }
  child_ = child;
  pipe_ = fds[1];
  return true;
}

void ThawGuardian::Dismiss() {
  Finish(true);
}

void ThawGuardian::Finish(bool thawed) {
  if (child_ < 0) return;
  if (thawed) (void)!write(pipe_, &kThawed, 1);
  close(pipe_);
  while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  pipe_ = -1;
}

}  // namespace shadrel::linux_snapshots
