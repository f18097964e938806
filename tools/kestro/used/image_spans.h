// The parts of an image that restore and verify move: all of it, or, for a used-only image, what
// the image's own allocation map says the file system uses.
#pragma once

#include <vector>

#include "image/image_format.h"
#include "image/read/image_reader.h"
#include "used/used_space.h"

namespace kestro::cli {

// Throws Failure naming the image when a used-only image's allocation map cannot be read.
std::vector<Extent> ImageSpans(ImageReader& image, const ImageLayout& layout,
                               const std::string& imagePath);

}  // namespace kestro::cli
