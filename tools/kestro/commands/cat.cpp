// kestro cat VOLUME: raw volume bytes to standard output, for xxd, cmp and the like. A zstd
// image named in place of the volume is decoded, so its bytes can be looked at the same way.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "commands/commands.h"
#include "commands/options.h"
#include "image/read/image_reader.h"
#include "image/read/open_image.h"
#include "support/errors.h"
#include "transfer/interrupt.h"
#include "volume/sector.h"
#include "volume/volume_bytes.h"

namespace kestro::cli {

using namespace win32;

namespace {

struct CatOptions {
  VolumeArgs volume;
  uint64_t offset = 0;
  std::optional<uint64_t> length;
};

void WriteOut(const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("standard output", "cannot write: " + DescribeErrno(errno));
    data += n;
    length -= static_cast<size_t>(n);
  }
}

// Bytes of `range` from `offset` to standard output, `length` at most; `subject` names the range
// in messages.
void CopyOut(const CatOptions& options, const std::string& subject, ByteRange& range) {
  const uint64_t size = range.size();
  if (options.offset > size) {
    throw Failure(subject, "has " + std::to_string(size) + " bytes; offset " +
                               std::to_string(options.offset) + " lies beyond its end");
  }
  const uint64_t available = size - options.offset;
  const uint64_t length = std::min(options.length.value_or(available), available);
  // A read may start inside a sector, so one sector of the staging buffer is kept free for that.
  const size_t block = kDefaultBufferSize - kSectorSize;
  std::vector<uint8_t> buffer(block);
  for (uint64_t done = 0; done < length;) {
    StopIfInterrupted(subject);
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(block, length - done));
    const uint64_t at = options.offset + done;
    if (const DWORD error = range.ReadAt(at, buffer.data(), chunk)) {
      throw range.Explain(subject, "read", at, error);
    }
    WriteOut(buffer.data(), chunk);
    done += chunk;
  }
}

// A zstd image given as the volume, which no volume object can read.
std::unique_ptr<ImageReader> CompressedImageNamed(const VolumeArgs& args) {
  struct stat st {};
  if (args.partition || stat(args.volume.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return nullptr;
  }
  auto image = OpenImage(args.volume);
  if (image->compression() == std::string("none")) return nullptr;
  return image;
}

int RunCat(const CatOptions& options) {
  if (const auto image = CompressedImageNamed(options.volume)) {
    CopyOut(options, options.volume.volume, *image);
    return kExitSuccess;
  }
  Volume volume(options.volume, OpenOptions{false, kDefaultBufferSize});
  VolumeBytes bytes(volume.object());
  CopyOut(options, volume.name(), bytes);
  return kExitSuccess;
}

}  // namespace

Command AddCat(CLI::App& app) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* cat = app.add_subcommand("cat", "Write a volume's raw bytes to standard output");
  AddVolume(*cat, options->volume);
  cat->add_option("--offset", options->offset, "First byte (default 0)")
      ->transform(kSize)
      ->option_text("SIZE");
  cat->add_option("--length", options->length, "Bytes to write (default: to the end)")
      ->transform(kSize)
      ->option_text("SIZE");
  return {cat, [options] { return RunCat(*options); }};
}

}  // namespace kestro::cli
