// Which bytes of an image a file system uses: the area before its first cluster (boot sectors,
// FATs, root directory), the clusters its allocation map marks as allocated, and everything past
// its last cluster (NTFS's backup boot sector, the partition's tail). A used-only image holds
// these bytes and leaves the rest as holes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/extent.h"
#include "used/range_reader.h"

namespace kestro::cli {

// The used spans of an image `imageBytes` long, coalesced and in order. `volume` reads the
// volume's own bytes (the image's first part); `fsType` is the volume object's m_nFsType.
// Throws the read's Failure when `volume` cannot be read, and Failure naming `subject` for a file
// system whose allocation kestro does not read, for an allocation map that is corrupt or
// describes more than the volume holds, and, unless `acceptUnclean`, for a file system that says
// its maps may be stale (used/ext_allocation.h).
std::vector<Extent> UsedSpans(const RangeReader& volume, unsigned fsType, uint64_t imageBytes,
                              bool acceptUnclean, const std::string& subject);

// Appends `span` to `spans`, merging it into the last one when they touch or overlap.
void AppendSpan(std::vector<Extent>& spans, Extent span);

// "102.0 MiB in 37 runs of 1.0 GiB"
std::string DescribeSpans(const std::vector<Extent>& spans, uint64_t imageBytes);

}  // namespace kestro::cli
