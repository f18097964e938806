// kestro backup VOLUME IMAGE: the volume's bytes, and the partition's tail, into a sparse image
// or a zstd stream, hashed on the way, with a sidecar that describes the image; or, for "-", to
// standard output without one.
#include <shadrel/snapshots.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <win32/storage_use.h>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/image_folder.h"
#include "image/image_format.h"
#include "image/image_publisher.h"
#include "image/read/open_image.h"
#include "image/small_files.h"
#include "image/write/sparse_image_writer.h"
#include "image/write/stream_writer.h"
#include "image/write/zstd_writer.h"
#include "image/zstd_option.h"
#include "support/errors.h"
#include "support/printable.h"
#include "support/sizes.h"
#include "support/standard_streams.h"
#include "transfer/block_loops.h"
#include "transfer/interrupt.h"
#include "used/span_segments.h"
#include "used/used_space.h"
#include "volume/file_system_name.h"
#include "volume/image_placement.h"
#include "volume/sector.h"
#include "volume/volume_bytes.h"

namespace kestro::cli {
namespace {

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
  bool force = false;     // copy by the bitmaps of an ext file system that is not clean
  std::optional<ZstdSettings> zstd = std::nullopt;  // nothing for a raw image
  mode_t mode = 0600;                               // the image's permissions, whatever the umask
};

constexpr const char* kZstdSuffix = ".zst";

// A compressed image's name ends in .zst. A link at the name is refused later, not followed:
// whoever may plant one could otherwise aim a backup at any file.
std::string ResolveImagePath(const BackupOptions& options) {
  std::string image = options.image;
  if (options.zstd && !image.ends_with(kZstdSuffix)) image += kZstdSuffix;
  return image;
}

// Whether the file or folder open on `fd` is, or lies on, storage the volume is read from; an
// object that could not be opened is not.
bool StoredInSource(const Volume& volume, int fd) {
  if (fd < 0) return false;
  const bool stored = StoredIn(fd, volume.access_path());
  close(fd);
  return stored;
}

// Writing over any file or device the volume is read from would destroy the source, whatever
// name leads to it.
void RefuseOwnSource(const Volume& volume, const ImageFolder& folder) {
  for (const std::string& name : BackupPaths(folder.image())) {
    if (StoredInSource(volume, folder.Open(name, O_PATH))) {
      throw Failure(folder.PathOf(name),
                    "is where " + volume.name() + " is read from; choose another image path");
    }
  }
}

// Writing into a file system stored in the source would destroy it too. The folder is the one
// the image is created in, reached through its own descriptor (opened for reading where it can
// be, so that btrfs can be asked for its devices); the new file itself is asked as well, since a
// stacked file system such as overlay shows its own device for the folder but the device that
// really holds the file for the file.
void RefuseFolderOnSource(const Volume& volume, const ImageFolder& folder,
                          const std::string& image) {
  const std::string staged = StagingPath(folder.image());
  int fd = folder.Open(".", O_RDONLY | O_DIRECTORY);
  if (fd < 0) fd = folder.Open(".", O_PATH | O_DIRECTORY);
  if (StoredInSource(volume, fd) || StoredInSource(volume, folder.Open(staged, O_RDONLY))) {
    throw Failure(std::filesystem::absolute(image).parent_path().string(),
                  "lies on a file system stored in " + volume.name() +
                      ", which the backup reads; choose another image path");
  }
}

// The last bytes of a source whose size is not a whole number of sectors belong to no sector the
// volume addresses.
void WarnAboutDroppedBytes(const Volume& volume, uint64_t tailBytes) {
  const uint64_t covered = volume.size() + tailBytes;
  if (volume.partition_length() <= covered) return;
  Warn(volume.source(), "its last " + std::to_string(volume.partition_length() - covered) +
                            " bytes are less than a sector and are not in the image");
}

// The whole image, or with --used-only the parts of it that the file system uses.
std::vector<Extent> SpansToCopy(Volume& volume, const BackupOptions& options) {
  const uint64_t imageBytes = volume.size() + volume.tail_bytes();
  if (!options.usedOnly) return {Extent{0, imageBytes}};
  VolumeBytes bytes(volume.object());
  return UsedSpans(RangeReader(bytes, volume.name(), options.bufferSize, bytes.size()),
                   volume.object().m_nFsType, imageBytes, options.force, volume.name());
}

void PrintSummary(FILE* out, const Volume& volume, const std::string& image, uint64_t tailBytes,
                  double seconds, const RescueMap* rescue, const std::string& digest,
                  const std::vector<Extent>* usedOnly) {
  const uint64_t total = volume.size() + tailBytes;
  std::fprintf(out, "backed up %s into %s: %llu bytes", Printable(volume.name()).c_str(),
               Printable(image).c_str(), static_cast<unsigned long long>(total));
  if (tailBytes) {
    std::fprintf(out, " (%llu of the volume, %llu of the partition's tail)",
                 static_cast<unsigned long long>(volume.size()),
                 static_cast<unsigned long long>(tailBytes));
  }
  std::fprintf(out, " in %.2f s, %s\n", seconds, FormatRate(total, seconds).c_str());
  if (usedOnly) {
    std::fprintf(out, "used-only image: copied %s; the rest are holes\n",
                 DescribeSpans(*usedOnly, total).c_str());
  }
  if (const auto snapshot = shadrel::DescribeSnapshot(volume.object().m_Requester)) {
    std::fprintf(out, "snapshot: %s, %.1f ms\n", snapshot->engine.c_str(), snapshot->milliseconds);
  }
  if (rescue) {
    std::fprintf(out, "unreadable: %llu sectors in %zu ranges, filled with zeros; map in %s\n",
                 static_cast<unsigned long long>(rescue->bytes() / kSectorSize),
                 rescue->ranges().size(), Printable(RescueMapPath(image)).c_str());
  }
  // Last, in the form the checksum tools print and check.
  if (!digest.empty()) std::fprintf(out, "%s  %s\n", digest.c_str(), Printable(image).c_str());
}

// A backup whose digest line is lost has not told its caller what it made.
void RequireSummaryWritten(const std::string& image) {
  if (const auto fault = FlushStandardOutput()) {
    throw Failure("standard output", "cannot write: " + *fault + "; the digest line of " + image +
                                         " is lost (" + SidecarPath(image) + " records it)");
  }
}

// A file system larger than its device cannot be copied whole; a rescue copies what the device
// holds.
void RequireWholeFileSystem(const Volume& volume, bool rescue) {
  if (!volume.claims_more_than_held()) return;
  if (!rescue) {
    throw Failure(volume.name(), volume.OversizeText() + "; --rescue copies what the device holds");
  }
  Warn(volume.name(), volume.OversizeText() + "; the image holds only what the device holds");
}

// Reads the partition's bytes into `out`, through a compressor when one is asked for, and
// returns their digest; `seconds` gets the time the copy took.
std::string CopyVolume(Volume& volume, const BackupOptions& options,
                       const std::vector<Extent>& copied, ImageSink& out, RescueMap* rescue,
                       double* seconds) {
  const uint64_t imageBytes = volume.size() + volume.tail_bytes();
  ImagePlacement placement(volume, imageBytes, false);
  const SpanSegments segments(placement.segments(), copied, true);
  ProgressBar progress(stderr, !options.quiet, imageBytes);
  const LoopSettings settings{volume.name(), options.bufferSize, options.hash, &progress};
  std::optional<ZstdWriter> zstd;
  if (options.zstd) zstd.emplace(out, options.zstd->level, imageBytes, options.zstd->frameBytes);
  ImageSink& sink = zstd ? static_cast<ImageSink&>(*zstd) : out;
  std::string digest = ReadIntoImage(segments.segments(), sink, settings, rescue);
  *seconds = progress.seconds();
  sink.Finish();
  return digest;
}

void BackupToFile(Volume& volume, const BackupOptions& options) {
  const std::string path = ResolveImagePath(options);
  const ImageFolder folder(path);
  RefuseOwnSource(volume, folder);
  for (const std::string& name :
       {folder.image(), SidecarPath(folder.image()), RescueMapPath(folder.image())}) {
    folder.RequireFileOrAbsent(name);
  }

  const uint64_t tailBytes = volume.tail_bytes();
  WarnAboutDroppedBytes(volume, tailBytes);
  const std::vector<Extent> copied = SpansToCopy(volume, options);
  SparseImageWriter image(folder, StagingPath(folder.image()), options.mode);
  RefuseFolderOnSource(volume, folder, path);
  ImagePublisher publisher(folder, options.mode);
  RescueMap rescue;
  double seconds = 0;
  const std::string digest =
      CopyVolume(volume, options, copied, image, options.rescue ? &rescue : nullptr, &seconds);

  ImageLayout layout;
  layout.volumeBytes = volume.size();
  layout.tailBytes = tailBytes;
  layout.source = volume.name();
  layout.fileSystem = FileSystemName(volume.object().m_nFsType);
  layout.partitionOffset = volume.object().m_llPartOffset;
  layout.hash = HashName(options.hash);
  layout.digest = digest;
  layout.unreadableBytes = rescue.bytes();
  layout.rescue = options.rescue;
  layout.compression = options.zstd ? "zstd" : "none";
  layout.zstdFrameBytes = options.zstd ? options.zstd->frameBytes : 0;
  layout.usedOnly = options.usedOnly;
  image.Flush();
  layout.file = image.identity();
  publisher.Stage(layout,
                  options.rescue ? std::optional(rescue.Text(volume.name())) : std::nullopt);
  publisher.Publish(image);
  PrintSummary(stdout, volume, path, tailBytes, seconds, options.rescue ? &rescue : nullptr, digest,
               options.usedOnly ? &copied : nullptr);
  RequireSummaryWritten(path);
}

// The image as a stream on standard output, zeros written out; what a file backup prints goes to
// standard error instead.
void BackupToStream(Volume& volume, const BackupOptions& options) {
  if (options.rescue) {
    throw UsageError("--rescue", "needs an image file, beside which the rescue map is written");
  }
  if (isatty(STDOUT_FILENO)) {
    throw Failure("standard output", "is a terminal; redirect it to a file or a pipe");
  }
  WarnAboutDroppedBytes(volume, volume.tail_bytes());
  StreamWriter out(STDOUT_FILENO, "standard output");
  double seconds = 0;
  const std::vector<Extent> copied = SpansToCopy(volume, options);
  const std::string digest = CopyVolume(volume, options, copied, out, nullptr, &seconds);
  PrintSummary(stderr, volume, kStandardStream, volume.tail_bytes(), seconds, nullptr, digest,
               options.usedOnly ? &copied : nullptr);
}

void Backup(Volume& volume, const BackupOptions& options) {
  RequireWholeFileSystem(volume, options.rescue);
  if (options.image == kStandardStream) {
    BackupToStream(volume, options);
  } else {
    BackupToFile(volume, options);
  }
}

int RunBackup(const BackupOptions& options) {
  Volume volume(options.volume,
                OpenOptions{options.snapshot, options.bufferSize, options.snapshotRequired});
  try {
    Backup(volume, options);
  } catch (const Failure&) {
    // By now the partial image has gone with its writer.
    if (InterruptRequested()) throw Failure(volume.name(), "interrupted; partial image removed");
    throw;
  }
  return kExitSuccess;
}

}  // namespace

Command AddBackup(CLI::App& app) {
  struct CommandLine {
    BackupOptions options;
    std::string snapshot;     // "preferred" or "required"; "" for none
    std::string compression;  // "" for a raw image
  };
  auto line = std::make_shared<CommandLine>();
  BackupOptions& options = line->options;
  CLI::App* backup = app.add_subcommand("backup", "Copy a volume into a sparse image file");
  AddVolume(*backup, options.volume);
  AddImage(*backup, options.image, "The image file to write, or - for standard output");
  backup
      ->add_flag("--snapshot{preferred}", line->snapshot,
                 "Read a point-in-time snapshot of the volume; with =required, fail when none "
                 "can be made")
      ->check(CLI::IsMember({"preferred", "required"}))
      ->option_text("[=required]");
  AddBuffer(*backup, options.bufferSize);
  AddHash(*backup, options.hash, true);
  backup->add_flag("-q,--quiet", options.quiet, "No progress bar");
  backup
      ->add_option("--compress", line->compression,
                   "Write a seekable zstd stream (level 1-19, default 3; frames of 1M of image "
                   "unless frame= says otherwise); a file's name gets .zst")
      ->check(kCompression)
      ->option_text("zstd[:LEVEL][,frame=SIZE]");
  backup->add_flag("--rescue", options.rescue,
                   "Zero-fill unreadable sectors and list them in IMAGE.rescue-map");
  backup->add_flag("--used-only", options.usedOnly,
                   "Copy only what the FAT, NTFS or ext2/3/4 file system uses; leave the rest "
                   "as holes");
  backup->add_flag("--force", options.force,
                   "With --used-only, copy by the bitmaps of an ext file system that is not clean");
  backup
      ->add_option("--mode", options.mode,
                   "Permissions of the image, its sidecar and rescue map (default 0600)")
      ->transform(kMode)
      ->option_text("OCTAL");
  return {backup, [line] {
            line->options.snapshot = !line->snapshot.empty();
            line->options.snapshotRequired = line->snapshot == "required";
            if (!line->compression.empty()) line->options.zstd = ParseZstdOption(line->compression);
            return RunBackup(line->options);
          }};
}

}  // namespace kestro::cli
