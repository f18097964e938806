// The small files beside an image (its sidecar, its rescue map): written whole to a staging name
// and flushed before they are renamed into place, so that a reader sees the old file or the new
// one and never a part; read without ever blocking on something that is not a regular file.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "image/image_folder.h"

namespace kestro::cli {

// The name a file is written under until it is complete.
std::string StagingPath(const std::string& path);

// Throws Failure naming `path` when it exists and is not a regular file (a FIFO, a directory, a
// device), which a command must neither open nor replace.
void RequireRegularOrAbsent(const std::string& path);

// Writes `text` into a new file `name` in `folder` with exactly `mode`, replacing a leftover one,
// and flushes it to the disk.
void WriteNewFile(const ImageFolder& folder, const std::string& name, const std::string& text,
                  mode_t mode);

// The contents of the regular file `name` in `folder`, a link there refused; nothing when there
// is no such file. `owner`, when given, gets the file's owner.
std::optional<std::string> ReadSmallFile(const ImageFolder& folder, const std::string& name,
                                         uid_t* owner = nullptr);

}  // namespace kestro::cli
