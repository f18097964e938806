// How the command fails: one line that names the volume or file and says why, and an exit
// status (1 for a failure, 2 for bad usage).
#pragma once

#include <stdexcept>
#include <string>

#include <win32/types.h>

namespace kestro::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A failure of the command: "<subject>: <reason>", or "C: <reason>" for a drive letter.
class Failure : public std::runtime_error {
 public:
  Failure(const std::string& subject, const std::string& reason, int status = kExitFailure)
      : std::runtime_error(Join(subject, reason)), reason_(reason), status_(status) {}
  static std::string Join(const std::string& subject, const std::string& reason) {
    const bool letter = !subject.empty() && subject.back() == ':';
    return subject + (letter ? " " : ": ") + reason;
  }
  const std::string& reason() const { return reason_; }
  int status() const { return status_; }

 private:
  std::string reason_;
  int status_;
};

// Arguments that parse but cannot be used together or make no sense for the volume named.
class UsageError : public Failure {
 public:
  UsageError(const std::string& subject, const std::string& reason)
      : Failure(subject, reason, kExitUsage) {}
};

// Words for a Win32 error code: "permission denied", "busy", "not ready"...
std::string DescribeError(win32::DWORD code);

// Words for an errno value, in the same lower-case style.
std::string DescribeErrno(int error);

}  // namespace kestro::cli

namespace kestro::cli {

// Prints "kestro: <subject>: <text>" on standard error, for things the user should know about a
// command that still goes on.
void Warn(const std::string& subject, const std::string& text);

}  // namespace kestro::cli
