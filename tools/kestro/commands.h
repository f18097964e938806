// The subcommands of `kestro`, one file each. main.cpp parses the command line into these option
// sets; every command returns the exit status or throws Failure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "digest.h"
#include "volume_source.h"

namespace kestro::cli {

inline constexpr uint64_t kDefaultBufferSize = 1u << 20;

struct InfoOptions {
  VolumeArgs volume;
  bool json = false;
  bool snapshot = false;
};

struct BackupOptions {
  VolumeArgs volume;
  std::string image;
  bool snapshot = false;
  bool snapshotRequired = false;  // fail rather than read the live volume
  uint64_t bufferSize = kDefaultBufferSize;
  HashKind hash = HashKind::kSha256;
  bool quiet = false;
  bool rescue = false;
  bool usedOnly = false;  // copy only what the file system uses
  int zstdLevel = 0;      // 0 for a raw image
  mode_t mode = 0600;     // the image's permissions, whatever the umask
};

struct RestoreOptions {
  std::string image;
  VolumeArgs volume;
  bool force = false;
  uint64_t bufferSize = kDefaultBufferSize;
  HashKind hash = HashKind::kSha256;
  bool quiet = false;
  std::string expectDigest;  // checked against what was written; "" for none
};

struct VerifyOptions {
  VolumeArgs volume;
  std::string image;
  bool force = false;
  uint64_t bufferSize = kDefaultBufferSize;
  bool quiet = false;
};

struct CatOptions {
  VolumeArgs volume;
  uint64_t offset = 0;
  std::optional<uint64_t> length;
};

struct SnapshotsOptions {
  bool reap = false;  // remove the stale ones instead of listing
};

struct DemoOptions {
  bool keep = false;   // leave the unpacked sample and the images in place
  bool quiet = false;  // no progress bars
};

int RunList();
int RunInfo(const InfoOptions& options);
int RunBackup(const BackupOptions& options);
int RunRestore(const RestoreOptions& options);
int RunVerify(const VerifyOptions& options);
int RunCat(const CatOptions& options);
int RunDemo(const DemoOptions& options);
int RunSnapshots(const SnapshotsOptions& options);

}  // namespace kestro::cli
