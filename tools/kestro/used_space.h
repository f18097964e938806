// Which bytes of an image a file system uses: the area before its first cluster (boot sectors,
// FATs, root directory), the clusters its allocation map marks as allocated, and everything past
// its last cluster (NTFS's backup boot sector, the partition's tail). A used-only image holds
// these bytes and leaves the rest as holes.
#pragma once

#include <ondisk/byte_reader.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestro::cli {

// `length` bytes of an image from `offset`.
struct ByteSpan {
  uint64_t offset = 0;
  uint64_t length = 0;

  bool operator==(const ByteSpan&) const = default;
};

// The used spans of an image `imageBytes` long, coalesced and in order. `volume` reads the
// volume's own bytes (the image's first part); `fsType` is the volume object's m_nFsType.
// Throws Failure naming `subject` for a file system whose allocation kestro does not read, for
// an allocation map that is corrupt or describes more than the volume holds, and, unless
// `acceptUnclean`, for a file system that says its maps may be stale (ext_allocation.h).
std::vector<ByteSpan> UsedSpans(const ondisk::ByteReader& volume, unsigned fsType,
                                uint64_t imageBytes, bool acceptUnclean,
                                const std::string& subject);

// Appends `span` to `spans`, merging it into the last one when they touch or overlap.
void AppendSpan(std::vector<ByteSpan>& spans, ByteSpan span);

uint64_t TotalLength(const std::vector<ByteSpan>& spans);

// "102.0 MiB in 37 runs of 1.0 GiB"
std::string DescribeSpans(const std::vector<ByteSpan>& spans, uint64_t imageBytes);

}  // namespace kestro::cli
