// The sample disk linked into the program (samples/sample-disk.img.xz, made by
// scripts/make-samples.sh): an MBR disk with a FAT32 partition (1) and an NTFS partition (2).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestro::cli {

inline constexpr unsigned kSampleFatPartition = 1;
inline constexpr unsigned kSampleNtfsPartition = 2;

// The compressed sample, as linked in.
std::string_view EmbeddedSampleDisk();

// Decompresses xz data into a sparse file at `path` and returns its size; throws Failure when the
// data is damaged or the file cannot be written.
uint64_t UnpackXz(std::string_view compressed, const std::string& path);

}  // namespace kestro::cli
