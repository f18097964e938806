// Fixtures made with the real tools: temporary folders, image files, partition tables and
// file systems, plus environment settings that undo themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestro::testing {

inline constexpr uint64_t kMiB = uint64_t{1} << 20;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable (or unsets it, given nullopt) and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs `command` through the shell.
CommandResult RunCommand(const std::string& command);
bool HaveTool(const std::string& tool);

// Single-quotes `text` for the shell.
std::string ShellQuote(const std::string& text);

void CreateSparseFile(const std::string& path, uint64_t size);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t length);
void WriteBytes(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes);

// A recognisable byte pattern: byte i of the pattern with `seed` at `offset`.
std::vector<uint8_t> Pattern(uint64_t offset, size_t length, uint32_t seed);

// Writes a partition table with sfdisk; `script` is sfdisk's input ("label: dos\n...").
void PartitionImage(const std::string& path, const std::string& script);

// Creates `path` holding `size` random bytes, as a disk that was used before it was formatted.
void CreateRandomFile(const std::string& path, uint64_t size);

// Formats `path` (created at `size` bytes when it does not exist) with a file system whose
// sectors are `sectorSize` bytes.
void MakeFat(const std::string& path, int fatBits, uint64_t size,
             const std::string& label = "KESTRO", unsigned sectorSize = 512);
void MakeNtfs(const std::string& path, uint64_t size, const std::string& label = "KESTRO",
              unsigned sectorSize = 512);
void MakeExt4(const std::string& path, uint64_t size);

// Copies the volume image at `volume` into `disk` at byte `offset`.
void PlaceVolume(const std::string& disk, uint64_t offset, const std::string& volume);

// A value `blkid -p -o export` reports for the file system in `path` ("LABEL_FATBOOT", "UUID",
// "VERSION"...), unescaped, or "" when it reports none.
std::string ProbeValue(const std::string& path, const std::string& key);

// The volume ID blkid reads from the boot sector of the FAT volume in `path`, padded with
// blanks as the boot sector keeps it: serial number, 11-character label, 8-character type.
struct FatVolumeId {
  uint32_t serial = 0;
  std::string label;
  std::string type;
};
FatVolumeId ProbeFatVolumeId(const std::string& path);

// A number `minfo` reports for the FAT volume in `path` ("sector size", "cluster size",
// "small size", "big size"...); nullopt for a field it leaves out (it shows "big size" only
// when "small size" is 0).
std::optional<uint64_t> FatInfoNumber(const std::string& path, const std::string& field);
// A loop device over an image file, with partition devices (/dev/loopNpM) for its partition
// table, detached again with everything it added. Only root can make one.
class LoopDevice {
 public:
  // Attaches `image` with losetup `options` ("-r", "-o OFFSET --sizelimit SIZE"); nullopt with
  // the reason in *whyNot when the machine does not allow it.
  static std::optional<LoopDevice> Attach(const std::string& image, std::string* whyNot,
                                          const std::string& options = "");
  LoopDevice(LoopDevice&& other) noexcept;
  LoopDevice& operator=(LoopDevice&&) = delete;
  ~LoopDevice();

  const std::string& device() const { return device_; }
  std::string Partition(unsigned number) const { return device_ + "p" + std::to_string(number); }

 private:
  explicit LoopDevice(std::string device) : device_(std::move(device)) {}
  std::string device_;
};

// A file system mounted for as long as the object lives.
class ScopedMount {
 public:
  // Mounts `source` (an image or a device) at `mountPoint`, which must exist, with mount(8) and
  // its `options` (already quoted); nullopt with the reason in *whyNot when the machine does not
  // allow it.
  static std::optional<ScopedMount> Kernel(const std::string& source, const std::string& mountPoint,
                                           std::string* whyNot, const std::string& options = "");
  ScopedMount(ScopedMount&& other) noexcept;
  ScopedMount& operator=(ScopedMount&&) = delete;
  ~ScopedMount();

 protected:
  // `unmount` is the command that takes the mount point and undoes the mount.
  ScopedMount(std::string unmount, std::string mountPoint)
      : unmount_(std::move(unmount)), mountPoint_(std::move(mountPoint)) {}

 private:
  std::string unmount_;
  std::string mountPoint_;
};

// An NTFS volume mounted through ntfs-3g (FUSE) for as long as the object lives.
class NtfsMount : public ScopedMount {
 public:
  // Mounts `source` (an image or a device) at `mountPoint`, which must exist; nullopt with the
  // reason in *whyNot when the machine does not allow it.
  static std::optional<NtfsMount> Mount(const std::string& source, const std::string& mountPoint,
                                        std::string* whyNot);

 private:
  // Unmounting returns before the server has closed `source`; the unmount waits for it.
  NtfsMount(std::string mountPoint, const std::string& source);
};

// An active swap area in a file or on a device, made with mkswap and switched off again however
// the test ends.
class ScopedSwap {
 public:
  explicit ScopedSwap(std::string path);
  ~ScopedSwap();
  ScopedSwap(const ScopedSwap&) = delete;
  ScopedSwap& operator=(const ScopedSwap&) = delete;
  bool on() const { return on_; }

 private:
  std::string path_;
  bool on_ = false;
};

// A file system mounted from `source` through a loop device inside a private mount namespace of
// its own, which a background process keeps alive: the mount is invisible to this namespace's
// mount table. Ending the process ends the namespace, the mount and its loop device.
class NamespaceMount {
 public:
  static std::optional<NamespaceMount> Mount(const std::string& source,
                                             const std::string& mountPoint, std::string* whyNot);
  NamespaceMount(NamespaceMount&& other) noexcept;
  NamespaceMount& operator=(NamespaceMount&&) = delete;
  ~NamespaceMount();

 private:
  explicit NamespaceMount(pid_t holder) : holder_(holder) {}
  pid_t holder_ = 0;
};

// Total and free bytes of a file system, as its own tools report them.
struct ToolSpace {
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
  uint64_t clusterBytes = 0;
};

// A FAT volume image: total and free from `fsck.fat -n -v` (data clusters, clusters in use);
// mtools miscounts the free clusters of volumes with 4096-byte sectors.
ToolSpace FatSpaceByTools(const std::string& volume);
// An NTFS volume image: total from `ntfsinfo -m` (clusters x cluster size), free from
// `ntfscluster`.
ToolSpace NtfsSpaceByTools(const std::string& volume);

}  // namespace kestro::testing

// Skips the current test when a tool the fixture needs is not installed.
#define KESTRO_REQUIRE_TOOL(tool) \
  if (!::kestro::testing::HaveTool(tool)) GTEST_SKIP() << tool " is not installed"
