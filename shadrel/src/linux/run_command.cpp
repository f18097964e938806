#include "run_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "private_dir.h"

namespace shadrel::linux_snapshots {
namespace {

[[noreturn]] void RunChild(const std::vector<std::string>& argv, int errorPipe) {
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDIN_FILENO);
  dup2(null, STDOUT_FILENO);
  dup2(errorPipe, STDERR_FILENO);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  const std::string failed = "cannot run " + argv[0] + "\n";
  (void)!write(STDERR_FILENO, failed.data(), failed.size());
  _exit(127);
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\n") + 1 - first);
}

}  // namespace

CommandOutcome RunCommand(const std::vector<std::string>& argv) {
  int fds[2];
  if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0) return {false, WithErrno("cannot run a tool")};
  const pid_t child = fork();
  if (child == 0) RunChild(argv, fds[1]);
  close(fds[1]);
  if (child < 0) {
    close(fds[0]);
    return {false, WithErrno("cannot run " + argv[0])};
  }
  const std::string errors = Trimmed(ReadAll(fds[0]));
  close(fds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const bool succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (succeeded) return {true, errors};
  return {false, errors.empty() ? argv[0] + " failed" : errors};
}

}  // namespace shadrel::linux_snapshots
