#include "support/caller_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "support/errors.h"

namespace kestro::cli {
namespace {

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;

// Pushes the components of `path` so that the first one is taken first (from the back).
void PushComponents(std::vector<std::string>& pending, const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

int OpenRoot(const std::string& path) {
  const char* root = !path.empty() && path[0] == '/' ? "/" : ".";
  return open(root, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// A link that neither the caller nor root made is followed only from a folder that nobody but
// the caller or root may change: anyone else who can write there could have planted it.
bool MayFollow(int folder, const struct stat& link) {
  const uid_t caller = geteuid();
  if (link.st_uid == caller || link.st_uid == 0) return true;
  struct stat dir {};
  if (fstat(folder, &dir) != 0) return false;
  const bool ownerTrusted = dir.st_uid == caller || dir.st_uid == 0;
  return ownerTrusted && (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string ReadLink(int link) {
  char text[PATH_MAX];
  const ssize_t n = readlinkat(link, "", text, sizeof text);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

int Fail(int error, int first, int second = -1) {
  close(first);
  if (second >= 0) close(second);
  errno = error;
  return -1;
}

// The file that `held` (opened with O_PATH) is, opened again with `flags`.
int Reopen(int held, int flags) {
  if ((flags & O_PATH) != 0) return held;
  const int fd = open(DescriptorPath(held).c_str(), (flags & ~O_NOFOLLOW) | O_CLOEXEC);
  const int error = errno;
  close(held);
  errno = error;
  return fd;
}

}  // namespace

std::string DescriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

int OpenAsCaller(const std::string& path, int flags) {
  std::vector<std::string> pending;
  PushComponents(pending, path);
  if (pending.empty()) pending.emplace_back(".");
  int folder = OpenRoot(path);
  if (folder < 0) return -1;
  for (int links = 0;;) {
    const std::string name = pending.back();
    pending.pop_back();
    const int fd = openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return Fail(errno, folder, fd);
    if (!S_ISLNK(st.st_mode)) {
      close(folder);
      if (pending.empty()) return Reopen(fd, flags);
      folder = fd;
      continue;
    }
    if (!MayFollow(folder, st)) {
      close(fd);
      close(folder);
      throw Failure(path, "passes through the symbolic link \"" + name + "\" of user " +
                              std::to_string(st.st_uid) +
                              " in a folder another user may change; refusing to follow it");
    }
    const std::string target = ReadLink(fd);
    close(fd);
    if (target.empty() || ++links > kMaxLinks) return Fail(ELOOP, folder);
    PushComponents(pending, target);
    if (pending.empty()) pending.emplace_back(".");
    if (target[0] == '/') {
      close(folder);
      folder = OpenRoot(target);
      if (folder < 0) return -1;
    }
  }
}

}  // namespace kestro::cli
