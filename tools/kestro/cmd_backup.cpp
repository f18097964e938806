// kestro backup VOLUME IMAGE: the volume's bytes, and the partition's tail, into a sparse image,
// hashed on the way, with a sidecar that describes the image.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "commands.h"
#include "errors.h"
#include "image_format.h"
#include "image_placement.h"
#include "image_writer.h"
#include "interrupt.h"
#include "report.h"
#include "sector.h"
#include "sizes.h"
#include "transfer.h"

namespace kestro::cli {
namespace {

// Writing the image over the file the volume is read from would destroy the source.
void RefuseOwnSource(const Volume& volume, const std::string& image) {
  struct stat target {
  }, source{};
  if (stat(image.c_str(), &target) != 0 || stat(volume.source().c_str(), &source) != 0) return;
  if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
    throw Failure(image, "is where " + volume.name() + " is read from; choose another image path");
  }
}

void WriteRescueMap(const std::string& image, const RescueMap& map, const std::string& volume) {
  const std::string path = RescueMapPath(image);
  std::ofstream out(path, std::ios::trunc);
  out << map.Text(volume);
  out.close();
  if (!out) throw Failure(path, "cannot write");
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
  if (rescue) {
    std::printf("unreadable: %llu sectors in %zu ranges, filled with zeros; map in %s\n",
                static_cast<unsigned long long>(rescue->bytes() / kSectorSize),
                rescue->ranges().size(), RescueMapPath(options.image).c_str());
  }
  // Last, in the form the checksum tools print and check.
  if (!digest.empty()) std::printf("%s  %s\n", digest.c_str(), options.image.c_str());
  std::fflush(stdout);
}

void Backup(Volume& volume, const BackupOptions& options) {
  RefuseOwnSource(volume, options.image);
  // What an earlier backup left beside the same path no longer describes it.
  unlink(SidecarPath(options.image).c_str());
  unlink(RescueMapPath(options.image).c_str());

  const uint64_t tailBytes = volume.tail_bytes();
  ImagePlacement placement(volume, volume.size() + tailBytes, false);
  SparseImageWriter image(options.image);
  ProgressBar progress(stderr, !options.quiet, TotalLength(placement.segments()));
  RescueMap rescue;
  const LoopSettings settings{volume.name(), options.bufferSize, options.hash, &progress};
  const std::string digest =
      ReadIntoImage(placement.segments(), image, settings, options.rescue ? &rescue : nullptr);
  image.Commit();
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
  WriteSidecar(options.image, layout);
  if (options.rescue) WriteRescueMap(options.image, rescue, volume.name());
  PrintSummary(volume, options, tailBytes, seconds, options.rescue ? &rescue : nullptr, digest);
}

}  // namespace

int RunBackup(const BackupOptions& options) {
  Volume volume(options.volume, OpenOptions{options.snapshot, options.bufferSize});
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
