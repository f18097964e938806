// Folders only their owner may change, for snapshot clones and records: opened once, checked on
// the open descriptor, and then used only relative to it, so that renaming or replacing the path
// afterwards changes nothing.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

namespace shadrel::linux_snapshots {

class PrivateDir {
 public:
  // Opens folder `name` relative to the folder `parent` (AT_FDCWD for a path), first creating it
  // 0700 when `create` is set; `shown` names it in reasons. Nullopt with a reason when it cannot
  // be opened, is a symbolic link, or fails TrustedOwner.
  static std::optional<PrivateDir> Open(int parent, const std::string& name,
                                        const std::string& shown, bool create, std::string& reason);

  PrivateDir(PrivateDir&& other) noexcept;
  PrivateDir& operator=(PrivateDir&&) = delete;
  PrivateDir(const PrivateDir&) = delete;
  ~PrivateDir();

  int fd() const { return fd_; }
  const std::string& shown() const { return shown_; }
  const struct stat& status() const { return status_; }

 private:
  PrivateDir(int fd, std::string shown, const struct stat& status)
      : fd_(fd), shown_(std::move(shown)), status_(status) {}

  int fd_;
  std::string shown_;
  struct stat status_;
};

// Why `status` (of a file or folder called `shown`) cannot be trusted: its owner is neither this
// user nor root, or group or others may write it; "" when it can be.
std::string UntrustedBecause(const struct stat& status, const std::string& shown);

// "<text>: <what errno says>".
std::string WithErrno(const std::string& text);

// `text` with control characters and backslashes escaped (\n, \xNN, \\), fit for a message.
std::string Printable(const std::string& text);

}  // namespace shadrel::linux_snapshots
