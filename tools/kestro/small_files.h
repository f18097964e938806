// The small files beside an image (its sidecar, its rescue map): written whole to a staging name,
// flushed and renamed into place, so that a reader sees the old file or the new one and never a
// part; read without ever blocking on something that is not a regular file.
#pragma once

#include <optional>
#include <string>

namespace kestro::cli {

// The name a file is written under until it is complete.
std::string StagingPath(const std::string& path);

// Throws Failure naming `path` when it exists and is not a regular file (a FIFO, a directory, a
// device), which a command must neither open nor replace.
void RequireRegularOrAbsent(const std::string& path);

// Writes `text` into a new file at `path`, replacing a leftover one, and flushes it to the disk.
void WriteNewFile(const std::string& path, const std::string& text);

// Renames `from` to `to` and flushes the directory, so that the rename survives a crash.
void RenameDurably(const std::string& from, const std::string& to);

// Replaces `path` with a file holding `text`, through its staging name.
void ReplaceFile(const std::string& path, const std::string& text);

// The contents of the regular file at `path`; nothing when there is no such file.
std::optional<std::string> ReadSmallFile(const std::string& path);

}  // namespace kestro::cli
