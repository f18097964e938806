// The volume a command names: a drive letter already mapped ("C:"), or a block device or image
// file (optionally one partition of it) that the tool maps to a free letter for the duration of
// the command. It is opened the way a backup host opens a volume: one CKestro32, Initial once.
#pragma once

#include <Kestro32.h>
#include <win32/drive_map.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "volume/disk_range.h"

namespace kestro::cli {

struct VolumeArgs {
  std::string volume;      // "C:" or a path
  unsigned partition = 0;  // partition of a partitioned device or image; 0 for the whole of it
};

struct OpenOptions {
  bool snapshot = false;
  uint64_t bufferSize = 1u << 20;
  bool snapshotRequired = false;  // no snapshot is a failure, not a warning
};

// The drive letter that `text` names ("C:", "c:", "C:\"), or 0 when it names a path.
char DriveLetterOf(const std::string& text);

// A letter that no mapping uses, from Z: down to C:; 0 when every one is taken.
char FreeDriveLetter();

// Maps a path to a drive letter for the lifetime of the object, over any mapping the letter has,
// which stands again afterwards.
class ScopedDriveMapping {
 public:
  ScopedDriveMapping(char letter, const std::string& path, unsigned partition);
  ~ScopedDriveMapping();
  ScopedDriveMapping(const ScopedDriveMapping&) = delete;
  ScopedDriveMapping& operator=(const ScopedDriveMapping&) = delete;

 private:
  char letter_;
  std::optional<DriveMapping> previous_;
};

class Volume {
 public:
  // Opens the volume or throws Failure naming it and saying why it cannot be opened.
  Volume(const VolumeArgs& args, const OpenOptions& options);
  ~Volume();
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  CKestro32& object() { return *object_; }
  const CKestro32& object() const { return *object_; }
  // How messages name the volume: "C:" or "disk.img partition 2".
  const std::string& name() const { return name_; }
  // The drive letter the volume is opened through (the one named, or a free one for a path),
  // mapped to the source kestro opened.
  char letter() const { return letter_; }
  // The device or file behind the letter, as the drive map knows it.
  const std::string& source() const { return source_; }
  // The name through which the platform reaches the volume's file: the descriptor opened once
  // when the volume was named (by path or by a drive letter's mapping), so that the name is never
  // resolved again.
  const std::string& access_path() const { return access_; }
  unsigned partition() const { return partition_; }

  uint64_t size() const { return object_->m_llVolumeSize; }
  // The size the volume's boot sector states; above size() when it claims more than the
  // partition holds, and equal to it when the file system states none.
  uint64_t claimed_size() const;
  bool claims_more_than_held() const { return claimed_size() > size(); }
  // "the file system claims more than the device holds (2.0 TiB, the device 16.0 MiB)"
  std::string OversizeText() const;
  uint64_t partition_length() const;
  // Whole sectors of the partition beyond the volume's own bytes.
  uint64_t tail_bytes() const;

  // `length` bytes of the partition from byte `offset`, read and written through its disk (the
  // way to the tail, which the volume object does not address); throws Failure when the disk
  // cannot be found or opened.
  std::unique_ptr<DiskRange> OpenPartitionRange(uint64_t offset, uint64_t length, bool writable);

 private:
  win32::HANDLE OpenVolumeDevice() const;
  [[noreturn]] void ExplainOpenFailure(win32::DWORD lastError) const;
  // The number n of \\.\PHYSICALDRIVEn that holds the volume; throws Failure when unknown.
  int DiskNumber() const;

  std::string name_;
  char letter_ = 0;
  std::string source_;
  std::string access_;
  // The source, opened once when the volume was named; closed after everything reaching it.
  struct HeldSource {
    int fd = -1;
    ~HeldSource();
  } held_;
  unsigned partition_ = 0;
  std::unique_ptr<ScopedDriveMapping> mapping_;
  std::unique_ptr<CKestro32> object_;
};

}  // namespace kestro::cli
