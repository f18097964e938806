#include "fixtures.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace kestro::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestro-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk;
  size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    result.output.append(chunk.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + tool + " >/dev/null").status == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

namespace {

void Check(const CommandResult& result, const std::string& what) {
  if (result.status != 0) throw std::runtime_error(what + " failed: " + result.output);
}

void EnsureFile(const std::string& path, uint64_t size) {
  if (!std::filesystem::exists(path)) CreateSparseFile(path, size);
}

}  // namespace

void CreateSparseFile(const std::string& path, uint64_t size) {
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    throw std::runtime_error("cannot create " + path);
  }
  close(fd);
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : pread(fd, bytes.data(), length, static_cast<off_t>(offset));
  if (fd >= 0) close(fd);
  if (n < 0) throw std::runtime_error("cannot read " + path);
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

void WriteBytes(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  const ssize_t n =
      fd < 0 ? -1 : pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
  if (fd >= 0) close(fd);
  if (n != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("cannot write " + path);
}

void PartitionImage(const std::string& path, const std::string& script) {
  Check(RunCommand("printf %s " + ShellQuote(script) +
                   " | sfdisk --no-reread --no-tell-kernel -q " + ShellQuote(path)),
        "sfdisk");
}

void CreateRandomFile(const std::string& path, uint64_t size) {
  Check(RunCommand("head -c " + std::to_string(size) + " /dev/urandom > " + ShellQuote(path)),
        "head");
}

void MakeFat(const std::string& path, int fatBits, uint64_t size, const std::string& label,
             unsigned sectorSize) {
  EnsureFile(path, size);
  Check(RunCommand("mkfs.fat -F " + std::to_string(fatBits) + " -S " + std::to_string(sectorSize) +
                   " -n " + ShellQuote(label) + " " + ShellQuote(path)),
        "mkfs.fat");
}

void MakeNtfs(const std::string& path, uint64_t size, const std::string& label,
              unsigned sectorSize) {
  EnsureFile(path, size);
  Check(RunCommand("mkntfs -F -f -q -s " + std::to_string(sectorSize) + " -L " + ShellQuote(label) +
                   " " + ShellQuote(path)),
        "mkntfs");
}

void MakeExt4(const std::string& path, uint64_t size) {
  EnsureFile(path, size);
  Check(RunCommand("mkfs.ext4 -q -F " + ShellQuote(path)), "mkfs.ext4");
}

void PlaceVolume(const std::string& disk, uint64_t offset, const std::string& volume) {
  Check(RunCommand("dd if=" + ShellQuote(volume) + " of=" + ShellQuote(disk) +
                   " bs=1M oflag=seek_bytes seek=" + std::to_string(offset) +
                   " conv=notrunc,sparse status=none"),
        "dd");
}

std::string ProbeValue(const std::string& path, const std::string& key) {
  const CommandResult probe = RunCommand("blkid -p -o export " + ShellQuote(path));
  Check(probe, "blkid");
  std::istringstream lines(probe.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value;
    for (size_t i = key.size() + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      value += line[i];
    }
    return value;
  }
  return "";
}

FatVolumeId ProbeFatVolumeId(const std::string& path) {
  FatVolumeId id;
  const std::string uuid = ProbeValue(path, "UUID");  // the serial number as XXXX-XXXX
  if (uuid.size() == 9)
    id.serial = static_cast<uint32_t>(std::stoul(uuid.substr(0, 4) + uuid.substr(5), nullptr, 16));
  id.label = ProbeValue(path, "LABEL_FATBOOT");
  id.label.resize(11, ' ');
  id.type = ProbeValue(path, "VERSION");
  id.type.resize(8, ' ');
  return id;
}

std::optional<uint64_t> FatInfoNumber(const std::string& path, const std::string& field) {
  const CommandResult info = RunCommand("MTOOLS_SKIP_CHECK=1 minfo -i " + ShellQuote(path) + " ::");
  Check(info, "minfo");
  const size_t at = info.output.find(field + ": ");
  if (at == std::string::npos) return std::nullopt;
  return std::stoull(info.output.substr(at + field.size() + 2));
}

std::optional<LoopDevice> LoopDevice::Attach(const std::string& image, std::string* whyNot,
                                             const std::string& options) {
  if (geteuid() != 0) {
    *whyNot = "loop devices need root";
    return std::nullopt;
  }
  if (!HaveTool("losetup") || !HaveTool("partx")) {
    *whyNot = "losetup or partx is not installed";
    return std::nullopt;
  }
  const CommandResult attached =
      RunCommand("losetup " + options + " -f --show " + ShellQuote(image));
  if (attached.status != 0 || attached.output.rfind("/dev/loop", 0) != 0) {
    *whyNot = "no loop device: " + attached.output;
    return std::nullopt;
  }
  LoopDevice loop(attached.output.substr(0, attached.output.find('\n')));
  // Without a partition table partx has nothing to add; the device itself still serves.
  RunCommand("partx -a " + ShellQuote(loop.device_));
  return loop;
}

LoopDevice::LoopDevice(LoopDevice&& other) noexcept : device_(std::move(other.device_)) {
  other.device_.clear();
}

LoopDevice::~LoopDevice() {
  if (device_.empty()) return;
  RunCommand("partx -d " + ShellQuote(device_));
  RunCommand("losetup -d " + ShellQuote(device_));
}

std::optional<NtfsMount> NtfsMount::Mount(const std::string& source, const std::string& mountPoint,
                                          std::string* whyNot) {
  if (geteuid() != 0 || !HaveTool("ntfs-3g") || access("/dev/fuse", R_OK | W_OK) != 0) {
    *whyNot = "mounting NTFS needs root, ntfs-3g and /dev/fuse";
    return std::nullopt;
  }
  const CommandResult mounted =
      RunCommand("ntfs-3g " + ShellQuote(source) + " " + ShellQuote(mountPoint));
  if (mounted.status != 0) {
    *whyNot = "ntfs-3g failed: " + mounted.output;
    return std::nullopt;
  }
  return NtfsMount(mountPoint, source);
}

NtfsMount::NtfsMount(std::string mountPoint, const std::string& source)
    : ScopedMount("sh -c " +
                      ShellQuote("fusermount -u \"$1\"; i=0; while [ $i -lt 250 ] && fuser -v " +
                                 ShellQuote(source) +
                                 " 2>&1 | grep -q ntfs-3g; do i=$((i+1)); sleep 0.02; done") +
                      " unmount",
                  std::move(mountPoint)) {}

std::optional<ScopedMount> ScopedMount::Kernel(const std::string& source,
                                               const std::string& mountPoint, std::string* whyNot,
                                               const std::string& options) {
  if (geteuid() != 0) {
    *whyNot = "mounting needs root";
    return std::nullopt;
  }
  const CommandResult mounted =
      RunCommand("mount " + options + " " + ShellQuote(source) + " " + ShellQuote(mountPoint));
  if (mounted.status != 0) {
    *whyNot = "mount failed: " + mounted.output;
    return std::nullopt;
  }
  return ScopedMount("umount", mountPoint);
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : unmount_(std::move(other.unmount_)), mountPoint_(std::move(other.mountPoint_)) {
  other.mountPoint_.clear();
}

ScopedMount::~ScopedMount() {
  if (!mountPoint_.empty()) RunCommand(unmount_ + " " + ShellQuote(mountPoint_));
}

ScopedSwap::ScopedSwap(std::string path) : path_(std::move(path)) {
  on_ =
      RunCommand("mkswap -q " + ShellQuote(path_) + " && swapon " + ShellQuote(path_)).status == 0;
}

ScopedSwap::~ScopedSwap() {
  if (on_) RunCommand("swapoff " + ShellQuote(path_));
}

std::optional<NamespaceMount> NamespaceMount::Mount(const std::string& source,
                                                    const std::string& mountPoint,
                                                    std::string* whyNot) {
  if (geteuid() != 0 || !HaveTool("unshare")) {
    *whyNot = "a mount in another namespace needs root and unshare";
    return std::nullopt;
  }
  // The holder prints "mounted" once the mount stands, then sleeps until it is ended.
  const std::string inside = "mount -o loop " + ShellQuote(source) + " " + ShellQuote(mountPoint) +
                             " && echo mounted && exec sleep 3600";
  const CommandResult started =
      RunCommand("{ unshare -m --propagation private sh -c " + ShellQuote(inside) + " > " +
                 ShellQuote(mountPoint + ".state") + " 2>&1 & } ; echo $!");
  const pid_t holder = static_cast<pid_t>(std::stol(started.output));
  NamespaceMount mount(holder);
  for (int tries = 0; tries < 100; ++tries) {
    const CommandResult state = RunCommand("cat " + ShellQuote(mountPoint + ".state"));
    if (state.output.find("mounted") != std::string::npos) return mount;
    if (kill(holder, 0) != 0) break;
    usleep(50'000);
  }
  *whyNot = "mount in a private namespace failed: " +
            RunCommand("cat " + ShellQuote(mountPoint + ".state")).output;
  return std::nullopt;
}

NamespaceMount::NamespaceMount(NamespaceMount&& other) noexcept : holder_(other.holder_) {
  other.holder_ = 0;
}

NamespaceMount::~NamespaceMount() {
  if (holder_ <= 0) return;
  kill(holder_, SIGKILL);
  // The holder is the shell's child, not ours: wait until it has gone, and its mount with it.
  for (int tries = 0; tries < 200 && kill(holder_, 0) == 0; ++tries) usleep(10'000);
}

namespace {

// The first number after `label` on its line in `text`.
uint64_t NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) throw std::runtime_error("no \"" + label + "\" in: " + text);
  const size_t first = text.find_first_of("0123456789\n", at + label.size());
  if (first == std::string::npos || text[first] == '\n') {
    throw std::runtime_error("no number after \"" + label + "\"");
  }
  return std::stoull(text.substr(first));
}

// The number just before `label` on its line in `text`, whose thousands may be set apart by
// spaces.
uint64_t NumberBefore(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) throw std::runtime_error("no \"" + label + "\" in: " + text);
  const size_t lineStart = text.rfind('\n', at) + 1;
  std::string digits;
  for (size_t i = lineStart; i < at; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) digits += text[i];
  }
  if (digits.empty()) throw std::runtime_error("no number before \"" + label + "\"");
  return std::stoull(digits);
}

CommandResult Checked(const std::string& command) {
  CommandResult result = RunCommand(command);
  Check(result, command);
  return result;
}

}  // namespace

ToolSpace FatSpaceByTools(const std::string& volume) {
  const std::string fsck = Checked("fsck.fat -n -v " + ShellQuote(volume)).output;
  ToolSpace space;
  space.clusterBytes = NumberBefore(fsck, "bytes per cluster");
  space.totalBytes = NumberAfter(fsck.substr(fsck.find("data clusters")), "(");
  // The summary line: "<image>: N files, USED/TOTAL clusters".
  const std::string summary = fsck.substr(fsck.rfind(" files, "));
  const uint64_t used = NumberAfter(summary, "files,");
  space.freeBytes = space.totalBytes - used * space.clusterBytes;
  return space;
}

ToolSpace NtfsSpaceByTools(const std::string& volume) {
  const std::string info = Checked("ntfsinfo -m -f " + ShellQuote(volume)).output;
  const std::string cluster = Checked("ntfscluster -f " + ShellQuote(volume)).output;
  ToolSpace space;
  space.clusterBytes = NumberAfter(info, "Cluster Size:");
  space.totalBytes = NumberAfter(info, "Volume Size in Clusters:") * space.clusterBytes;
  space.freeBytes = NumberAfter(cluster, "bytes of free space");
  return space;
}

}  // namespace kestro::testing
