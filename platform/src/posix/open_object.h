// What a HANDLE of the POSIX backend stands for.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include <win32/errors.h>

#include "handles/handle_guard.h"
#include "read_ahead.h"
#include <win32/sector.h>
#include "storage/drive_map.h"

namespace kestro::posix {

using namespace win32;

class DosLockOwner;
struct DeviceObject;

enum class ObjectKind {
  kVolume,        // \\.\X:, a window of a file or device; transfers stop at its end
  kDisk,          // \\.\PHYSICALDRIVEn; transfers past its end fail
  kFile,          // a regular file named by its POSIX path
  kLegacyDevice,  // \\.\VWIN32
};

struct OpenObject {
  ObjectKind kind = ObjectKind::kFile;
  int fd = -1;
  uint64_t base = 0;                 // window start in the fd
  uint64_t length = 0;               // window length (volumes and disks)
  std::atomic<uint64_t> pointer{0};  // file pointer, relative to base; kept in user space
  bool canRead = false;
  bool canWrite = false;
  DWORD writeRefusal = ERROR_ACCESS_DENIED;     // why writes fail when canWrite is false
  bool noBuffering = false;                     // Windows' alignment rules apply to every transfer
  uint32_t sectorSize = platform::kSectorSize;  // the unit of the alignment rules
  uint32_t deviceSectorSize =
      platform::kSectorSize;  // the device's logical sector, the unit of its I/O
  // The same device opened with O_DIRECT: whole aligned sectors go between the caller and the
  // medium without the page cache. -1 for image files and for handles opened unbuffered.
  int directFd = -1;
  bool directRefused = false;  // the file system refused O_DIRECT transfers; fd carries them all
  bool dropBehind = false;     // a block device: bytes that go through the page cache leave it
  std::unique_ptr<ReadAhead> readAhead;  // sequential reads of directFd, served ahead of time
  std::optional<VolumeTarget> volume;
  std::optional<DiskTarget> disk;
  std::shared_ptr<DosLockOwner> lockOwner;  // \\.\VWIN32: the volume locks this handle holds
  HandleGuard guard;                        // volume lock and mount state (volumes and disks)
  // The device object the handle was opened through, kept until the descriptor has closed.
  std::shared_ptr<const DeviceObject> deviceObject;
  // Serialises the transfers and the volume lock of one handle; moving the pointer alone takes no
  // lock, so a seek costs no more than an atomic store.
  std::mutex mutex;

  OpenObject() = default;
  OpenObject(const OpenObject&) = delete;
  OpenObject& operator=(const OpenObject&) = delete;
  ~OpenObject();
};

}  // namespace kestro::posix
