// Opening an image to read: a file or standard input ("-"), raw or a zstd stream, told apart by
// the zstd frame's magic number rather than by the name.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "image/read/image_reader.h"

namespace kestro::cli {

// The name that stands for standard input or output in place of an image path.
inline constexpr const char* kStandardStream = "-";

// Opens `path`, or standard input for "-". The size of a stream that does not record its own
// (standard input, raw) is `streamSize`, which must then be given.
std::unique_ptr<ImageReader> OpenImage(const std::string& path,
                                       std::optional<uint64_t> streamSize = std::nullopt);

}  // namespace kestro::cli
