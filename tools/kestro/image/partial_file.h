// The file a backup writes before it is complete ("IMAGE.partial"). It is created exclusively and
// locked for as long as its writer runs, so that a second backup to the same image is refused
// while the first one runs, and a file left by a backup that died (the kernel drops its lock) is
// recognised as stale and replaced.
#pragma once

#include <sys/types.h>

#include <string>

#include "image/image_folder.h"

namespace kestro::cli {

// Creates `name` in `folder` for writing, with exactly `mode`, and holds an exclusive advisory
// lock on it through the returned descriptor. Throws Failure naming the file when another backup
// holds it, when it is not a regular file, or when it cannot be created.
int ClaimPartialFile(const ImageFolder& folder, const std::string& name, mode_t mode);

}  // namespace kestro::cli
