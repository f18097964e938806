#include "used/ext_allocation.h"

// The library's headers declare its error functions without C linkage.
extern "C" {
#include <et/com_err.h>
#include <ext2fs/ext2_err.h>
}
#include <ext2fs/ext2fs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/errors.h"

namespace kestro::cli {
namespace {

constexpr uint64_t kSuperblockOffset = 1024;
constexpr uint64_t kMagicOffset = kSuperblockOffset + 56;
constexpr uint16_t kExtMagic = 0xEF53;

// The reader an I/O channel opened by the library reads from; set for the length of one open.
thread_local const ondisk::ByteReader* openingReader = nullptr;

const ondisk::ByteReader& ReaderOf(io_channel channel) {
  return *static_cast<const ondisk::ByteReader*>(channel->private_data);
}

// Called from the library's C code, which no exception may cross: a reader that throws (out of
// memory while it words a failure) fails the read.
errcode_t ReadBlocks(io_channel channel, unsigned long long block, int count, void* data) {
  const uint64_t bytes =
      count < 0 ? static_cast<uint64_t>(-count) : uint64_t(count) * unsigned(channel->block_size);
  const uint64_t offset = block * unsigned(channel->block_size);
  try {
    const ondisk::Status read =
        ReaderOf(channel).Read(offset, static_cast<size_t>(bytes), static_cast<uint8_t*>(data));
    return read.ok() ? 0 : EXT2_ET_SHORT_READ;
  } catch (const std::exception&) {
    return EXT2_ET_NO_MEMORY;
  }
}

errcode_t ReadBlocks32(io_channel channel, unsigned long block, int count, void* data) {
  return ReadBlocks(channel, block, count, data);
}

errcode_t RefuseWrite(io_channel /*channel*/, unsigned long /*block*/, int /*count*/,
                      const void* /*data*/) {
  return EXT2_ET_RO_FILSYS;
}

errcode_t RefuseWrite64(io_channel /*channel*/, unsigned long long /*block*/, int /*count*/,
                        const void* /*data*/) {
  return EXT2_ET_RO_FILSYS;
}

errcode_t SetBlockSize(io_channel channel, int bytes) {
  channel->block_size = bytes;
  return 0;
}

errcode_t Flush(io_channel /*channel*/) {
  return 0;
}

errcode_t Close(io_channel channel) {
  if (--channel->refcount > 0) return 0;
  std::free(channel->name);
  std::free(channel);
  return 0;
}

errcode_t Open(const char* name, int flags, io_channel* opened);

struct_io_manager MakeManager() {
  struct_io_manager manager{};
  manager.magic = EXT2_ET_MAGIC_IO_MANAGER;
  manager.name = "kestro byte reader";
  manager.open = Open;
  manager.close = Close;
  manager.set_blksize = SetBlockSize;
  manager.read_blk = ReadBlocks32;
  manager.write_blk = RefuseWrite;
  manager.flush = Flush;
  manager.read_blk64 = ReadBlocks;
  manager.write_blk64 = RefuseWrite64;
  return manager;
}

struct_io_manager byteReaderManager = MakeManager();

errcode_t Open(const char* name, int flags, io_channel* opened) {
  if (openingReader == nullptr || (flags & IO_FLAG_RW) != 0) return EXT2_ET_RO_FILSYS;
  auto* channel = static_cast<io_channel>(std::calloc(1, sizeof(struct_io_channel)));
  if (channel == nullptr) return EXT2_ET_NO_MEMORY;
  channel->magic = EXT2_ET_MAGIC_IO_CHANNEL;
  channel->manager = &byteReaderManager;
  channel->name = strdup(name);
  channel->block_size = 1024;
  channel->refcount = 1;
  channel->private_data = const_cast<ondisk::ByteReader*>(openingReader);
  *opened = channel;
  return 0;
}

// The library's messages, which it knows only once its error table is registered.
void RegisterErrorMessages() {
  static const bool registered = [] {
    initialize_ext2_error_table();
    return true;
  }();
  (void)registered;
}

// The file system on `volume`, open read-only (with `flags`: only its superblock, perhaps);
// closed when the holder goes away.
struct OpenFileSystem {
  OpenFileSystem(const RangeReader& volume, const std::string& subject, int flags) {
    RegisterErrorMessages();
    openingReader = &volume;
    const errcode_t error =
        ext2fs_open2("volume", nullptr, EXT2_FLAG_64BITS | flags, 0, 0, &byteReaderManager, &fs);
    openingReader = nullptr;
    if (error != 0) {
      volume.ThrowReadFailure();
      throw Failure(subject, std::string("has an ext file system that cannot be opened (") +
                                 error_message(error) + ")");
    }
  }
  ~OpenFileSystem() { ext2fs_close_free(&fs); }
  OpenFileSystem(const OpenFileSystem&) = delete;
  OpenFileSystem& operator=(const OpenFileSystem&) = delete;

  ext2_filsys fs = nullptr;
};

// Why the file system's bitmaps may not be trusted; "" when they may.
std::string Uncleanness(ext2_super_block& super) {
  if (ext2fs_has_feature_journal_needs_recovery(&super)) {
    return "its journal needs recovery (it is mounted, or was not unmounted cleanly)";
  }
  if ((super.s_state & EXT2_ERROR_FS) != 0) return "it has errors flagged";
  if ((super.s_state & EXT2_VALID_FS) == 0) return "it was not unmounted cleanly";
  return "";
}

[[noreturn]] void RefuseBitmap(const std::string& subject, errcode_t error) {
  throw Failure(subject, std::string("has an ext block bitmap that cannot be read (") +
                             error_message(error) + ")");
}

// The runs of blocks the bitmap marks as in use, in bytes. A search finds nothing with ENOENT;
// any other answer leaves the runs unknown, and a copy by them would miss blocks in use.
void AppendUsedBlocks(ext2_filsys fs, std::vector<Extent>& spans, const std::string& subject) {
  const uint64_t blockBytes = fs->blocksize;
  const blk64_t last = ext2fs_blocks_count(fs->super) - 1;
  blk64_t start = fs->super->s_first_data_block;
  while (start <= last) {
    blk64_t used = 0;
    const errcode_t found = ext2fs_find_first_set_block_bitmap2(fs->block_map, start, last, &used);
    if (found == ENOENT) break;
    if (found != 0) RefuseBitmap(subject, found);
    blk64_t free = 0;
    const errcode_t ends = ext2fs_find_first_zero_block_bitmap2(fs->block_map, used, last, &free);
    if (ends != 0 && ends != ENOENT) RefuseBitmap(subject, ends);
    const blk64_t end = ends == 0 ? free : last + 1;
    AppendSpan(spans, {used * blockBytes, (end - used) * blockBytes});
    start = end;
  }
}

// The bytes the file system on `volume` spans, which must fit in `imageBytes`: its group
// descriptors and bitmaps are sized by its block count, so a superblock that claims more blocks
// than its partition holds is refused before they are read.
uint64_t FileSystemBytes(const RangeReader& volume, uint64_t imageBytes,
                         const std::string& subject) {
  const OpenFileSystem super(volume, subject, EXT2_FLAG_SUPER_ONLY);
  const uint64_t blockBytes = super.fs->blocksize;
  const uint64_t blocks = ext2fs_blocks_count(super.fs->super);
  if (blocks > imageBytes / blockBytes) {
    throw Failure(subject, "holds an ext file system of " + std::to_string(blocks) + " blocks of " +
                               std::to_string(blockBytes) + " bytes, more than the " +
                               std::to_string(imageBytes) + " bytes of its partition");
  }
  return blocks * blockBytes;
}

}  // namespace

bool IsExtFileSystem(const ondisk::ByteReader& volume) {
  uint8_t magic[2] = {};
  if (volume.Size() < kMagicOffset + sizeof magic) return false;
  if (!volume.Read(kMagicOffset, sizeof magic, magic).ok()) return false;
  return (magic[0] | magic[1] << 8) == kExtMagic;
}

std::vector<Extent> ExtUsedSpans(const RangeReader& volume, uint64_t imageBytes, bool acceptUnclean,
                                 const std::string& subject) {
  const uint64_t end = FileSystemBytes(volume, imageBytes, subject);
  OpenFileSystem open(volume, subject, 0);
  ext2_filsys fs = open.fs;
  if (ext2fs_blocks_count(fs->super) * fs->blocksize != end) {
    throw Failure(subject, "has an ext superblock that changed while it was read");
  }
  if (const std::string why = Uncleanness(*fs->super); !why.empty() && !acceptUnclean) {
    throw Failure(subject, "holds an ext file system that is not clean: " + why +
                               ", so its bitmaps may not show every block in use; check it with "
                               "e2fsck, or give --force to copy by the bitmaps anyway");
  }
  // A group descriptor that places its bitmap outside the file system reads as all free.
  if (const errcode_t error = ext2fs_check_desc(fs); error != 0) {
    volume.ThrowReadFailure();
    throw Failure(subject, std::string("has corrupt ext group descriptors (") +
                               error_message(error) +
                               "); a used-only copy would not know which blocks to keep");
  }
  if (const errcode_t error = ext2fs_read_block_bitmap(fs); error != 0) {
    volume.ThrowReadFailure();
    RefuseBitmap(subject, error);
  }
  const uint64_t blockBytes = fs->blocksize;
  std::vector<Extent> spans;
  // The boot area and the primary superblock, which precede the first block the bitmap maps.
  AppendSpan(spans, {0, (uint64_t{fs->super->s_first_data_block} + 1) * blockBytes});
  AppendUsedBlocks(fs, spans, subject);
  AppendSpan(spans, {end, imageBytes - end});
  return spans;
}

}  // namespace kestro::cli
