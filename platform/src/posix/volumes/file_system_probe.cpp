#include "volumes/file_system_probe.h"

#include <blkid/blkid.h>

#include <cstring>
#include <memory>

#include <ondisk/fat.h>

namespace kestro::posix {
namespace {

struct ProbeDeleter {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

std::string Value(blkid_probe probe, const char* name) {
  const char* value = nullptr;
  return blkid_probe_lookup_value(probe, name, &value, nullptr) == 0 && value ? value : "";
}

// FAT12 and FAT16 are both "FAT" to Windows; a parameter block that does not add up is taken for
// one of them.
FileSystemKind FatKind(const VolumeWindow& volume) {
  uint8_t boot[kestro::ondisk::kBootSectorSize];
  if (!volume.Read(0, boot, sizeof boot)) return FileSystemKind::kNone;
  const auto parsed = kestro::ondisk::ParseFatBootSector(boot);
  return parsed && parsed->fatBits == 32 ? FileSystemKind::kFat32 : FileSystemKind::kFat;
}

}  // namespace

FileSystemIdentity IdentifyFileSystem(const VolumeWindow& volume) {
  FileSystemIdentity identity;
  Probe probe(blkid_new_probe());
  if (!probe ||
      blkid_probe_set_device(probe.get(), volume.fd(), static_cast<blkid_loff_t>(volume.base()),
                             static_cast<blkid_loff_t>(volume.length())) != 0) {
    return identity;
  }
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
  if (blkid_do_safeprobe(probe.get()) != 0) return identity;
  const std::string type = Value(probe.get(), "TYPE");
  identity.label = Value(probe.get(), "LABEL");
  if (type == "vfat" || type == "msdos") {
    identity.kind = FatKind(volume);
  } else if (type == "ntfs") {
    identity.kind = FileSystemKind::kNtfs;
  } else if (type == "exfat") {
    identity.kind = FileSystemKind::kExfat;
  } else if (!type.empty()) {
    identity.kind = FileSystemKind::kOther;
  }
  return identity;
}

}  // namespace kestro::posix
