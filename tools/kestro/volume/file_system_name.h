// The name of the file system a volume object found (its m_nFsType), as the command shows it
// and an image's sidecar records it.
#pragma once

namespace kestro::cli {

// "FAT16", "FAT32", "NTFS", "NTFS5" or "unknown" for an m_nFsType code.
const char* FileSystemName(unsigned code);

}  // namespace kestro::cli
