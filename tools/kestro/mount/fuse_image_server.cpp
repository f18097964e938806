#define FUSE_USE_VERSION 31
#include "mount/fuse_image_server.h"

#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/errors.h"
#include "support/printable.h"

namespace kestro::cli {
namespace {

struct Served {
  ImageReader* image = nullptr;
  struct stat file {};
  struct stat folder {};
  std::string path;  // the served file, as messages name it
};

Served& ServedImage() {
  return *static_cast<Served*>(fuse_get_context()->private_data);
}

bool IsServedFile(const char* path) {
  return path[0] == '/' && std::strcmp(path + 1, kServedFileName) == 0;
}

int GetAttributes(const char* path, struct stat* st, struct fuse_file_info* /*file*/) {
  const Served& served = ServedImage();
  if (std::strcmp(path, "/") == 0) {
    *st = served.folder;
    return 0;
  }
  if (!IsServedFile(path)) return -ENOENT;
  *st = served.file;
  return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
               struct fuse_file_info* /*file*/, enum fuse_readdir_flags /*flags*/) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kServedFileName, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, struct fuse_file_info* file) {
  if (!IsServedFile(path)) return -ENOENT;
  if ((file->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  file->keep_cache = 1;  // the image does not change while it is served
  return 0;
}

int Read(const char* path, char* buffer, size_t length, off_t offset,
         struct fuse_file_info* /*file*/) {
  if (!IsServedFile(path)) return -ENOENT;
  Served& served = ServedImage();
  const uint64_t size = served.image->size();
  const auto start = static_cast<uint64_t>(offset);
  if (offset < 0 || start >= size) return 0;
  const size_t take = static_cast<size_t>(std::min<uint64_t>(length, size - start));
  // No exception may reach libfuse's C frames: a failure to read, or to word the failure, is EIO.
  try {
    const win32::DWORD error = served.image->ReadAt(start, buffer, take);
    if (error == win32::ERROR_SUCCESS) return static_cast<int>(take);
    const Failure failure = served.image->Explain(served.path, "read", start, error);
    std::fprintf(stderr, "kestro: %s; a read of %zu bytes at byte %llu of %s fails with EIO\n",
                 Printable(failure.what()).c_str(), take, static_cast<unsigned long long>(start),
                 Printable(served.path).c_str());
  } catch (const std::exception& e) {
    // The library's own words (out of memory), printed without building a string.
    std::fprintf(stderr, "kestro: %s; a read of %zu bytes at byte %llu fails with EIO\n", e.what(),
                 take, static_cast<unsigned long long>(start));
  }
  return -EIO;
}

fuse_operations Operations() {
  fuse_operations operations{};
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.open = Open;
  operations.read = Read;
  return operations;
}

// The served file: a regular file of the image's size with the image file's owner and read bits.
Served Describe(ImageReader& image, const struct stat& imageStat, const std::string& folder) {
  Served served;
  served.image = &image;
  served.path = folder + "/" + kServedFileName;
  served.file.st_mode = S_IFREG | (imageStat.st_mode & 0444);
  served.file.st_nlink = 1;
  served.file.st_uid = imageStat.st_uid;
  served.file.st_gid = imageStat.st_gid;
  served.file.st_size = static_cast<off_t>(image.size());
  served.file.st_mtim = imageStat.st_mtim;
  served.folder = served.file;
  served.folder.st_mode = S_IFDIR | (imageStat.st_mode & 0444) | ((imageStat.st_mode & 0444) >> 2);
  served.folder.st_nlink = 2;
  served.folder.st_size = 0;
  return served;
}

// The options every mount gets: read-only, permissions checked by the kernel against the modes.
std::vector<std::string> MountArguments(const FuseSettings& settings) {
  std::string options = "ro,default_permissions,fsname=kestro,subtype=kestro";
  if (settings.allowOther) options += ",allow_other";
  return {"kestro", "-o", options};
}

// The process's handlers for Ctrl-C and termination give way to FUSE's, which end the loop, after
// which the file system is unmounted.
void HandSignalsToFuse(fuse* session) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
  if (fuse_set_signal_handlers(fuse_get_session(session)) != 0) {
    throw Failure("FUSE", "cannot install its signal handlers");
  }
}

}  // namespace

void ServeImage(ImageReader& image, const struct stat& imageStat, const MountFolder& folder,
                const FuseSettings& settings) {
  Served served = Describe(image, imageStat, folder.name());
  const std::string mountPoint = folder.MountPoint();
  std::vector<std::string> arguments = MountArguments(settings);
  std::vector<char*> argv(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) argv[i] = arguments[i].data();
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  const fuse_operations operations = Operations();
  fuse* session = fuse_new(&args, &operations, sizeof operations, &served);
  fuse_opt_free_args(&args);
  if (session == nullptr) throw Failure(folder.name(), "cannot set up a FUSE file system");
  if (fuse_mount(session, mountPoint.c_str()) != 0) {
    fuse_destroy(session);
    throw Failure(folder.name(), "cannot mount a FUSE file system here");
  }
  int loop = -1;
  try {
    HandSignalsToFuse(session);
    if (fuse_daemonize(settings.foreground ? 1 : 0) != 0) {
      throw Failure(folder.name(), "cannot go on in the background");
    }
    loop = fuse_loop(session);
  } catch (...) {
    fuse_unmount(session);
    fuse_destroy(session);
    throw;
  }
  fuse_remove_signal_handlers(fuse_get_session(session));
  fuse_unmount(session);
  fuse_destroy(session);
  if (loop < 0)
    throw Failure(folder.name(), "the FUSE file system failed: " + DescribeErrno(-loop));
}

}  // namespace kestro::cli
