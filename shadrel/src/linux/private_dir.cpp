#include "private_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace shadrel::linux_snapshots {

std::string WithErrno(const std::string& text) {
  return text + ": " + std::strerror(errno);
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string UntrustedBecause(const struct stat& status, const std::string& shown) {
  if (status.st_uid != geteuid() && status.st_uid != 0) {
    return Printable(shown) + " belongs to another user (uid " + std::to_string(status.st_uid) +
           ")";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return Printable(shown) + " may be written by other users (mode " + mode + ")";
  }
  return "";
}

std::optional<PrivateDir> PrivateDir::Open(int parent, const std::string& name,
                                           const std::string& shown, bool create,
                                           std::string& reason) {
  if (create && mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
    reason = WithErrno("cannot create " + Printable(shown));
    return std::nullopt;
  }
  const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    struct stat link {};
    const bool isLink = (errno == ELOOP || errno == ENOTDIR) &&
                        fstatat(parent, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(link.st_mode);
    reason = isLink ? Printable(shown) + " is a symbolic link, not a folder"
                    : WithErrno("cannot open the folder " + Printable(shown));
    return std::nullopt;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    reason = WithErrno("cannot examine " + Printable(shown));
    close(fd);
    return std::nullopt;
  }
  reason = UntrustedBecause(status, shown);
  if (!reason.empty()) {
    reason += ": refused as a snapshot folder";
    close(fd);
    return std::nullopt;
  }
  return PrivateDir(fd, shown, status);
}

PrivateDir::PrivateDir(PrivateDir&& other) noexcept
    : fd_(other.fd_), shown_(std::move(other.shown_)), status_(other.status_) {
  other.fd_ = -1;
}

PrivateDir::~PrivateDir() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace shadrel::linux_snapshots
