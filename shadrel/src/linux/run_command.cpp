#include "run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

// Everything the child needs is made before fork: another thread may hold the allocator's lock
// at that moment, so the child only makes system calls.
struct ChildCommand {
  explicit ChildCommand(const std::vector<std::string>& argv)
      : failed("cannot run " + argv[0] + "\n") {
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
  }
  std::vector<char*> args;
  std::string failed;
};

// The tool gets the three standard streams and nothing else the process holds open: no device
// or file of the host's, and no descriptor lvm would warn about as leaked.
[[noreturn]] void RunChild(const ChildCommand& command, int outputPipe, int errorPipe) {
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  dup2(null, STDIN_FILENO);
  dup2(outputPipe, STDOUT_FILENO);
  dup2(errorPipe, STDERR_FILENO);
  for (const int kept : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) fcntl(kept, F_SETFD, 0);
  close_range(STDERR_FILENO + 1, UINT_MAX, 0);
  execvp(command.args[0], command.args.data());
  (void)!write(STDERR_FILENO, command.failed.data(), command.failed.size());
  _exit(127);
}

// Reads both pipes to their ends, whichever the tool fills first.
void ReadBoth(int outputFd, int errorFd, std::string& output, std::string& errors) {
  pollfd fds[2] = {{outputFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
  std::string* texts[2] = {&output, &errors};
  char buffer[4096];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) texts[i]->append(buffer, static_cast<size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) fds[i].fd = -1;
    }
  }
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\n") + 1 - first);
}

}  // namespace

CommandOutcome RunCommand(const std::vector<std::string>& argv) {
  int output[2];
  int errorPipe[2];
  if (argv.empty() || pipe2(output, O_CLOEXEC) != 0)
    return {false, WithErrno("cannot run a tool"), ""};
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    close(output[0]);
    close(output[1]);
    return {false, WithErrno("cannot run a tool"), ""};
  }
  const ChildCommand command(argv);
  const pid_t child = fork();
  if (child == 0) RunChild(command, output[1], errorPipe[1]);
  close(output[1]);
  close(errorPipe[1]);
  CommandOutcome outcome;
  if (child >= 0) ReadBoth(output[0], errorPipe[0], outcome.output, outcome.errors);
  close(output[0]);
  close(errorPipe[0]);
  if (child < 0) return {false, WithErrno("cannot run " + argv[0]), ""};
  outcome.errors = Trimmed(outcome.errors);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!outcome.succeeded && outcome.errors.empty()) outcome.errors = argv[0] + " failed";
  return outcome;
}

}  // namespace shadrel::linux_snapshots
