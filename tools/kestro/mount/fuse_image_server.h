// Serves an image's bytes read-only through FUSE, as one file, DIR/volume: the partition's bytes
// (volume and tail), for a loop mount or a file-system driver to open. A read the image cannot
// answer (a damaged frame) fails with EIO, and the reason goes to standard error.
#pragma once

#include <sys/stat.h>

#include <string>

#include "image/read/image_reader.h"
#include "mount/mount_folder.h"

namespace kestro::cli {

inline constexpr const char* kServedFileName = "volume";

struct FuseSettings {
  bool foreground = false;
  bool allowOther = false;  // other users may open it, as the served file's mode allows
};

// Mounts `image` on `folder` and serves it until the file system is unmounted (fusermount3 -u)
// or the process is told to stop (Ctrl-C, SIGTERM), then unmounts. The served file has the
// owner and read bits of the image file, `imageStat`. Throws Failure when it cannot mount.
void ServeImage(ImageReader& image, const struct stat& imageStat, const MountFolder& folder,
                const FuseSettings& settings);

}  // namespace kestro::cli
