// The drive map: which block device or image file stands behind each drive letter and disk.
//
// Nothing is mapped by default. Mappings come, in order of precedence, from the host's own calls
// below, from the environment (KESTRO_DRIVE_<L>=<path>, KESTRO_DRIVE_<L>_PARTITION=<n>,
// KESTRO_PHYSICALDRIVE<n>=<path>) and from the file named by KESTRO_DRIVES_FILE, which holds the
// same assignments one per line ("C=/dev/sdb1", "D=/srv/disk.img", "D_PARTITION=2", "#" comments).
// Disks not mapped explicitly are numbered from 0 in drive-letter order, one per underlying disk.
#pragma once

#include <string>
#include <vector>

#include <win32/platform_api.h>

namespace kestro {

struct DriveMapping {
  char letter = 0;         // 'A' to 'Z'
  std::string path;        // block device or regular file
  unsigned partition = 0;  // partition of a partitioned target; 0 for the whole target
};

struct PhysicalDriveMapping {
  int number = -1;
  std::string path;  // whole-disk block device or disk image
};

// Maps `letter` (either case) for this process, over any mapping from the environment or file.
// Returns false for a letter outside A-Z or an empty path.
KESTROPLAT_API bool MapDrive(char letter, const std::string& path, unsigned partition = 0);
KESTROPLAT_API void UnmapDrive(char letter);

KESTROPLAT_API bool MapPhysicalDrive(int number, const std::string& path);
KESTROPLAT_API void UnmapPhysicalDrive(int number);

// Forgets every mapping made through the calls above.
KESTROPLAT_API void ClearMappedDrives();

// The mappings in effect now, drive letters in order.
KESTROPLAT_API std::vector<DriveMapping> MappedDrives();

// Every disk in effect now, explicit and automatically numbered, by number.
KESTROPLAT_API std::vector<PhysicalDriveMapping> MappedPhysicalDrives();

}  // namespace kestro
