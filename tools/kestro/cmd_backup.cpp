// kestro backup VOLUME IMAGE: the volume's bytes, and the partition's tail, into a sparse image,
// hashed on the way, with a sidecar that describes the image.
#include <shadrel/snapshots.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "errors.h"
#include "image_format.h"
#include "image_placement.h"
#include "image_publisher.h"
#include "image_writer.h"
#include "interrupt.h"
#include "report.h"
#include "sector.h"
#include "sizes.h"
#include "small_files.h"
#include "source_storage.h"
#include "block_loops.h"

namespace kestro::cli {
namespace {

// The image is written beside the file a link names, rather than replacing the link.
std::string ResolveImagePath(const std::string& image) {
  struct stat st {};
  if (lstat(image.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return image;
  return std::filesystem::weakly_canonical(image).string();
}

// Writing over, or into, any file or device the volume is read from would destroy the source,
// whatever name leads to it.
void RefuseOwnSource(const Volume& volume, const std::string& image) {
  const SourceStorage source(volume.source());
  struct stat st {};
  for (const std::string& path : BackupPaths(image)) {
    if (stat(path.c_str(), &st) == 0 && source.Holds(st)) {
      throw Failure(path, "is where " + volume.name() + " is read from; choose another image path");
    }
  }
  const std::string folder = std::filesystem::absolute(image).parent_path().string();
  if (stat(folder.c_str(), &st) == 0 && source.Holds(st)) {
    throw Failure(folder, "lies on " + volume.name() +
                              ", which the backup reads; choose another "
                              "image path");
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

void PrintSummary(const Volume& volume, const BackupOptions& options, uint64_t tailBytes,
                  double seconds, const RescueMap* rescue, const std::string& digest) {
  const uint64_t total = volume.size() + tailBytes;
  std::printf("backed up %s into %s: %llu bytes", volume.name().c_str(), options.image.c_str(),
              static_cast<unsigned long long>(total));
  if (tailBytes) {
    std::printf(" (%llu of the volume, %llu of the partition's tail)",
                static_cast<unsigned long long>(volume.size()),
                static_cast<unsigned long long>(tailBytes));
  }
  std::printf(" in %.2f s, %s\n", seconds, FormatRate(total, seconds).c_str());
  if (const auto snapshot = shadrel::DescribeSnapshot(volume.object().m_Requester)) {
    std::printf("snapshot: %s, %.1f ms\n", snapshot->engine.c_str(), snapshot->milliseconds);
  }
  if (rescue) {
    std::printf("unreadable: %llu sectors in %zu ranges, filled with zeros; map in %s\n",
                static_cast<unsigned long long>(rescue->bytes() / kSectorSize),
                rescue->ranges().size(), RescueMapPath(options.image).c_str());
  }
  // Last, in the form the checksum tools print and check.
  if (!digest.empty()) std::printf("%s  %s\n", digest.c_str(), options.image.c_str());
  std::fflush(stdout);
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

void Backup(Volume& volume, const BackupOptions& options) {
  RequireWholeFileSystem(volume, options.rescue);
  const std::string path = ResolveImagePath(options.image);
  RefuseOwnSource(volume, path);
  for (const std::string& existing : {path, SidecarPath(path), RescueMapPath(path)}) {
    RequireRegularOrAbsent(existing);
  }

  const uint64_t tailBytes = volume.tail_bytes();
  WarnAboutDroppedBytes(volume, tailBytes);
  ImagePlacement placement(volume, volume.size() + tailBytes, false);
  SparseImageWriter image(StagingPath(path));
  ImagePublisher publisher(path);
  ProgressBar progress(stderr, !options.quiet, TotalLength(placement.segments()));
  RescueMap rescue;
  const LoopSettings settings{volume.name(), options.bufferSize, options.hash, &progress};
  const std::string digest =
      ReadIntoImage(placement.segments(), image, settings, options.rescue ? &rescue : nullptr);
  const double seconds = progress.seconds();

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
  publisher.Stage(layout,
                  options.rescue ? std::optional(rescue.Text(volume.name())) : std::nullopt);
  image.Commit();
  publisher.Publish();
  PrintSummary(volume, options, tailBytes, seconds, options.rescue ? &rescue : nullptr, digest);
}

}  // namespace

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

}  // namespace kestro::cli
