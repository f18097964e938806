#include "volume/file_system_name.h"

#include <Kestro32.h>

namespace kestro::cli {

const char* FileSystemName(unsigned code) {
  switch (code) {
    case FSTYPE_FAT16:
      return "FAT16";
    case FSTYPE_FAT32:
      return "FAT32";
    case FSTYPE_NTFS:
      return "NTFS";
    case FSTYPE_NTFS5:
      return "NTFS5";
  }
  return "unknown";
}

}  // namespace kestro::cli
