#include "image/read/image_reader.h"
#include "image/read/open_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image/read/forward_reader.h"
#include "image/read/zstd_reader.h"
#include "image/read/zstd_seekable_reader.h"
#include "image/small_files.h"
#include "support/caller_path.h"
#include "support/errors.h"
#include "support/positional_read.h"

namespace kestro::cli {
namespace {

// A raw image file, read anywhere with pread.
class ImageFile : public ImageReader {
 public:
  // Keeps `file` for its descriptor, which it reads at offsets rather than in order.
  ImageFile(std::unique_ptr<InputStream> file, uint64_t size)
      : file_(std::move(file)), size_(size) {}

  uint64_t size() const override { return size_; }

 protected:
  void Read(uint64_t offset, void* buffer, size_t length) override;

 private:
  std::unique_ptr<InputStream> file_;
  uint64_t size_;
};

void ImageFile::Read(uint64_t offset, void* buffer, size_t length) {
  const size_t done = ReadUpTo(file_->fd(), offset, buffer, length, file_->name());
  if (done < length) {
    throw Failure(file_->name(), "ends early, at byte " + std::to_string(offset + done));
  }
}

// A descriptor open on the regular file `path`, and what identifies the file.
int OpenRegularFile(const std::string& path, FileIdentity* file) {
  const int held = OpenAsCaller(path, O_PATH);
  if (held < 0) throw Failure(path, "cannot open: " + DescribeErrno(errno));
  struct stat st {};
  if (fstat(held, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(held);
    throw Failure(path, "not a regular file; an image is read from a file");
  }
  const int fd = open(DescriptorPath(held).c_str(), O_RDONLY | O_CLOEXEC);
  const int error = errno;
  close(held);
  if (fd < 0) throw Failure(path, "cannot open: " + DescribeErrno(error));
  *file = IdentityOf(st);
  return fd;
}

std::unique_ptr<InputStream> OpenStandardInput() {
  if (isatty(STDIN_FILENO)) {
    throw Failure("standard input", "is a terminal; pipe the image into kestro");
  }
  return std::make_unique<InputStream>(STDIN_FILENO, "standard input", false);
}

}  // namespace

std::unique_ptr<ImageReader> OpenImage(const std::string& path,
                                       std::optional<uint64_t> streamSize) {
  if (path == kStandardStream) {
    std::unique_ptr<InputStream> input = OpenStandardInput();
    struct stat st {};
    const bool file = fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    std::unique_ptr<ImageReader> image;
    if (IsZstdStream(*input)) {
      image = ZstdReader::Open(std::move(input), streamSize);
    } else {
      image = std::make_unique<PlainStreamReader>(std::move(input), streamSize.value());
    }
    if (file) image->set_file(IdentityOf(st));
    return image;
  }
  FileIdentity file;
  const int fd = OpenRegularFile(path, &file);
  auto input = std::make_unique<InputStream>(fd, path, true);
  std::unique_ptr<ImageReader> image;
  std::optional<SeekTable> table;
  if (IsZstdStream(*input)) table = ReadSeekTable(fd, file.bytes, path);
  if (table) {
    image = std::make_unique<SeekableZstdReader>(std::move(input), std::move(*table));
  } else if (IsZstdStream(*input)) {
    image = ZstdReader::Open(std::move(input), std::nullopt);
  } else {
    image = std::make_unique<ImageFile>(std::move(input), file.bytes);
  }
  image->set_file(file);
  return image;
}

}  // namespace kestro::cli
