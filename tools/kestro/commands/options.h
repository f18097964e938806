// The options several commands share (the volume, the image, the buffer, the digest), declared
// on a command's own parser. Each parses straight into the command's option set: sizes, digests,
// compression levels and modes arrive as numbers, never as text to convert later.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

#include "support/digest.h"
#include "volume/volume.h"

namespace kestro::cli {

inline constexpr uint64_t kDefaultBufferSize = 1u << 20;

// A byte count as people type it ("4M", "64KiB"), handed on as its number of bytes.
extern const CLI::Validator kSize;
// "zstd", "zstd:LEVEL", then ",frame=SIZE"; checked here, parsed by ParseZstdOption.
extern const CLI::Validator kCompression;
// Octal permission bits up to 0777, handed on as their number.
extern const CLI::Validator kMode;

void AddVolume(CLI::App& command, VolumeArgs& volume);
void AddImage(CLI::App& command, std::string& image, const char* what);
void AddBuffer(CLI::App& command, uint64_t& bufferSize);
void AddHash(CLI::App& command, HashKind& hash, bool allowNone);

}  // namespace kestro::cli
