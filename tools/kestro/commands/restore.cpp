// kestro restore IMAGE VOLUME: checks the image against what its sidecar records before the
// volume is opened for writing, writes it back while holding the volume's lock, then reads it
// back and compares digests. An image on standard input ("-") cannot be checked before it is
// written: it is checked as it goes, and a failure then leaves the volume incomplete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <win32/storage_use.h>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/image_format.h"
#include "image/read/image_reader.h"
#include "image/read/open_image.h"
#include "support/errors.h"
#include "support/printable.h"
#include "support/sizes.h"
#include "transfer/block_loops.h"
#include "transfer/image_checks.h"
#include "transfer/interrupt.h"
#include "used/image_spans.h"
#include "used/span_segments.h"
#include "support/byte_range.h"
#include "volume/image_placement.h"
#include "volume/segment.h"

namespace kestro::cli {

using namespace win32;

namespace {

struct RestoreOptions {
  std::string image;
  VolumeArgs volume;
  bool force = false;
  uint64_t bufferSize = kDefaultBufferSize;
  HashKind hash = HashKind::kSha256;
  bool quiet = false;
  std::string expectDigest;  // checked against what was written; "" for none
};

// "a; b" of every reason the volume's bytes are in use, or "" when nothing uses them.
std::string InUseText(const Volume& volume) {
  std::string text;
  for (const std::string& reason : WhyDriveInUse(volume.letter())) {
    text += (text.empty() ? "" : "; ") + reason;
  }
  return text;
}

// Holds the volume's lock while the image is written, which keeps every block device over the
// volume's bytes open exclusively so that nothing can mount or claim them meanwhile. A volume the
// kernel says is in use is refused whatever --force says; one that cannot be locked for another
// reason is refused unless forced.
class VolumeLock {
 public:
  VolumeLock(Volume& volume, bool force) : volume_(volume) {
    locked_ = volume.object().LockNTVolume() != 0;
    if (locked_) return;
    const std::string reason = DescribeError(LastErrorOr(ERROR_ACCESS_DENIED));
    const std::string inUse = InUseText(volume);
    if (!inUse.empty()) {
      throw Failure(volume.name(),
                    "is mounted or in use, which --force does not override: " + inUse);
    }
    if (!force) {
      throw Failure(volume.name(), "is mounted or in use (cannot lock it: " + reason +
                                       "); unmount it, or pass --force");
    }
    Warn(volume.name(), "writing without the volume lock (" + reason + ")");
  }
  ~VolumeLock() {
    if (locked_) volume_.object().UnlockNTVolume();
  }
  bool held() const { return locked_; }
  const Volume& volume() const { return volume_; }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;

 private:
  Volume& volume_;
  bool locked_ = false;
};

// What a volume holds after a stream failed once `written` of its `total` bytes were written,
// told once they are flushed: a stream that goes on past the image's end has been written whole.
[[noreturn]] void FailStream(const std::string& volume, const Failure& failure, uint64_t written,
                             uint64_t total, DWORD flushError) {
  if (flushError) {
    throw Failure(volume, "cannot flush the stream's first " + std::to_string(written) +
                              " bytes (" + DescribeError(flushError) + ") after " + failure.what() +
                              "; what it holds now is not known");
  }
  if (written == total) {
    throw Failure(volume, "holds all " + std::to_string(total) + " bytes of the image, but " +
                              failure.what());
  }
  throw Failure(volume, "is now incomplete: it holds the stream's first " +
                            std::to_string(written) +
                            " bytes, and what it held before after them (" + failure.what() + ")");
}

// Writes the image; a write refused on a volume that could not be locked is the platform
// protecting a mounted file system or a device in use, which --force does not override. A
// stream that fails part way has already overwritten the volume's start.
std::string WriteOrExplain(ImageReader& image, ImagePlacement& placement,
                           const std::vector<Segment>& segments, const LoopSettings& settings,
                           const VolumeLock& lock, bool stream) {
  uint64_t written = 0;
  try {
    return WriteFromImage(image, segments, settings, &written);
  } catch (const Failure& failure) {
    if (!lock.held() && GetLastError() == ERROR_ACCESS_DENIED) {
      throw Failure(settings.subject, failure.reason() +
                                          " (it is mounted or in use, which --force does not "
                                          "override)");
    }
    // The lock shuts out block devices that existed when it was taken, not one attached since.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      throw Failure(settings.subject, failure.reason() +
                                          " (it came into use while it was "
                                          "restored: " +
                                          InUseText(lock.volume()) + ")");
    }
    if (!stream || InterruptRequested()) throw;
    FailStream(settings.subject, failure, written, TotalLength(segments), placement.Flush());
  }
}

// The digest given on the command line, checked against what was written.
void RequireExpectedDigest(const RestoreOptions& options, const std::string& written,
                           const std::string& volumeName) {
  if (options.expectDigest.empty() || options.expectDigest == written) return;
  throw Failure(options.image, "differs from the expected digest (" + written + ", expected " +
                                   options.expectDigest + "); " + volumeName +
                                   " now holds what was read");
}

// --expect-digest in lower case, without the "ALGORITHM:" it may start with; refused, before
// anything is opened, unless it can be a digest in --hash's algorithm.
std::string ExpectedDigest(const RestoreOptions& options) {
  std::string digest = options.expectDigest;
  if (digest.empty()) return digest;
  const size_t colon = digest.find(':');
  if (colon != std::string::npos) {
    if (HashKindNamed(digest.substr(0, colon)) != options.hash) {
      throw UsageError("--expect-digest", "names " + digest.substr(0, colon) + ", but --hash is " +
                                              HashName(options.hash));
    }
    digest.erase(0, colon + 1);
  }
  if (const auto fault = DigestTextFault(options.hash, digest)) {
    throw UsageError("--expect-digest", *fault);
  }
  return LowerCase(digest);
}

// Writing an image onto the volume it is read from, or onto storage that holds it, destroys it
// as it is read: the same file, the device it lies on, a loop device over it. The name is opened
// again only to hand the platform a descriptor, and believed only when it is the file being read;
// standard input is its own descriptor.
void RefuseOwnImage(const Volume& volume, const ImageReader& image, const std::string& name) {
  if (!image.file()) return;
  const int fd = name == kStandardStream ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                         : open(name.c_str(), O_PATH | O_CLOEXEC);
  struct stat st {};
  const bool same = fd >= 0 && fstat(fd, &st) == 0 &&
                    static_cast<uint64_t>(st.st_dev) == image.file()->device &&
                    static_cast<uint64_t>(st.st_ino) == image.file()->inode;
  const bool stored = same && StoredIn(fd, volume.access_path());
  if (fd >= 0) close(fd);
  if (!same) throw Failure(name, "was replaced while it was being read; nothing was restored");
  if (stored) {
    throw Failure(name, "is stored on " + volume.name() +
                            ", the volume it would be restored to; restoring would destroy it");
  }
}

void Restore(Volume& volume, ImageReader& image, const ImageLayout& layout,
             const RestoreOptions& options, const CheckSettings& checks) {
  RefuseOwnImage(volume, image, options.image);
  RequireImageCoversVolume(layout, image.size(), volume.size(), volume.name(), checks);
  ImagePlacement placement(volume, image.size(), true);
  const std::vector<Extent> spans = ImageSpans(image, layout, options.image);
  const SpanSegments segments(placement.segments(), spans, false);
  VolumeLock lock(volume, options.force);

  const uint64_t total = TotalLength(spans);
  ProgressBar writing(stderr, !options.quiet, total);
  const LoopSettings settings{volume.name(), options.bufferSize, options.hash, &writing};
  const std::string written = WriteOrExplain(image, placement, segments.segments(), settings, lock,
                                             options.image == kStandardStream);
  const double seconds = writing.seconds();
  if (const DWORD error = placement.Flush()) {
    throw Failure(volume.name(), "cannot flush what was written: " + DescribeError(error));
  }
  // Nothing keeps a loop device from being attached to an image file meanwhile and used.
  if (const std::string inUse = InUseText(volume); !inUse.empty()) {
    throw Failure(volume.name(), "came into use while it was restored (" + inUse +
                                     "); what it holds now is not known");
  }
  // The image was checked before; a difference now means it changed while it was written. The
  // recorded digest covers a used-only image's holes too, which are not written.
  if (!options.force && layout.described && !layout.usedOnly &&
      layout.hash == HashName(options.hash) && !layout.digest.empty() && layout.digest != written) {
    throw Failure(options.image, "changed while it was restored; " + volume.name() +
                                     " holds what was read, not what the backup recorded");
  }
  RequireExpectedDigest(options, written, volume.name());

  ProgressBar reading(stderr, !options.quiet, total);
  const LoopSettings readBack{volume.name(), options.bufferSize, options.hash, &reading};
  const std::string read = DigestSegments(segments.segments(), readBack);
  if (read != written) {
    throw Failure(volume.name(), "reads back differently from what was written (" + read +
                                     " instead of " + written + ")");
  }
  // A stream's summary goes to standard error, like a stream backup's.
  FILE* out = options.image == kStandardStream ? stderr : stdout;
  std::fprintf(out, "restored %s to %s: %llu bytes in %.2f s, %s; read back and verified\n",
               Printable(options.image).c_str(), Printable(volume.name()).c_str(),
               static_cast<unsigned long long>(total), seconds, FormatRate(total, seconds).c_str());
  // A used-only restore's digest covers the runs written, not the image it would stand for.
  if (layout.usedOnly) {
    std::fprintf(out, "used-only image: restored %s\n", DescribeSpans(spans, image.size()).c_str());
  } else if (!written.empty()) {
    std::fprintf(out, "%s  %s\n", written.c_str(), Printable(options.image).c_str());
  }
}

void RestoreOrExplainInterrupt(Volume& volume, ImageReader& image, const ImageLayout& layout,
                               const RestoreOptions& options, const CheckSettings& checks) {
  try {
    Restore(volume, image, layout, options, checks);
  } catch (const Failure&) {
    if (InterruptRequested()) throw Failure(volume.name(), "interrupted; only partly restored");
    throw;
  }
}

// An image from standard input is as long as the partition (volume and tail), unless it says
// otherwise; it is written as it arrives.
void RestoreStream(const RestoreOptions& options) {
  Volume volume(options.volume, OpenOptions{false, options.bufferSize});
  const auto image = OpenImage(kStandardStream, volume.size() + volume.tail_bytes());
  const CheckSettings checks{options.image, options.force, options.quiet, options.bufferSize};
  RequireCheckableImage(ImageLayout{}, *image, checks);
  RestoreOrExplainInterrupt(volume, *image, ImageLayout{}, options, checks);
}

int RunRestore(const RestoreOptions& given) {
  RestoreOptions options = given;
  options.expectDigest = ExpectedDigest(given);
  if (options.image == kStandardStream) {
    RestoreStream(options);
    return kExitSuccess;
  }
  const auto image = OpenImage(options.image);
  const ImageLayout layout = ReadImageLayout(options.image, image->size(), *image->file());
  const CheckSettings checks{options.image, options.force, options.quiet, options.bufferSize};
  RequireCompression(layout, *image, checks);
  RequireCompleteImage(layout, checks);
  RequireNoUnreadableBytes(layout, checks);
  RequireCheckableImage(layout, *image, checks);
  RequireRecordedDigest(*image, layout, checks);
  Volume volume(options.volume, OpenOptions{false, options.bufferSize});
  RestoreOrExplainInterrupt(volume, *image, layout, options, checks);
  return kExitSuccess;
}

}  // namespace

Command AddRestore(CLI::App& app) {
  auto options = std::make_shared<RestoreOptions>();
  CLI::App* restore = app.add_subcommand("restore", "Write an image back onto a volume");
  AddImage(*restore, options->image, "The image file to read, or - for standard input");
  AddVolume(*restore, options->volume);
  restore->add_flag("--force", options->force,
                    "Write even when another process holds the volume's lock (never over a mounted "
                    "file system or swap area), or the image is incomplete, a rescue image or "
                    "differs from its recorded digest");
  AddBuffer(*restore, options->bufferSize);
  AddHash(*restore, options->hash, false);
  restore->add_flag("-q,--quiet", options->quiet, "No progress bar");
  restore
      ->add_option("--expect-digest", options->expectDigest,
                   "Fail unless what was written has this digest (in --hash's algorithm)")
      ->option_text("HEX");
  return {restore, [options] { return RunRestore(*options); }, true};
}

}  // namespace kestro::cli
