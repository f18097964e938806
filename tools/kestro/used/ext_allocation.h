// The allocation of ext2, ext3 and ext4 volumes, read through e2fsprogs' library over the same
// byte-reader seam as the FAT and NTFS parsers: every block the block bitmap marks as in use
// (superblocks, group descriptors, bitmaps, inode tables, the journal, files), the boot area
// before the first block group, and whatever follows the file system's last block.
#pragma once

#include <ondisk/byte_reader.h>

#include <string>
#include <vector>

#include "used/used_space.h"

namespace kestro::cli {

// True when `volume` starts with an ext2/3/4 superblock.
bool IsExtFileSystem(const ondisk::ByteReader& volume);

// The used spans of the ext file system on `volume`, in an image `imageBytes` long. Throws the
// read's Failure when `volume` cannot be read, Failure naming `subject` when the file system
// cannot be opened, and, unless `acceptUnclean`, when it needs journal recovery or has errors
// flagged: its bitmaps may not say what is in use.
std::vector<Extent> ExtUsedSpans(const RangeReader& volume, uint64_t imageBytes, bool acceptUnclean,
                                 const std::string& subject);

}  // namespace kestro::cli
