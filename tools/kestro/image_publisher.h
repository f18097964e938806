// Putting a finished backup in place of the previous one. Everything is written under staging
// names first (the image as IMAGE.partial, its sidecar as IMAGE.partial.kestro, its rescue map as
// IMAGE.partial.rescue-map) and flushed; only then are they renamed into place, image first. A
// previous sidecar is first replaced by one that says its image is incomplete, so that no moment
// shows a complete-looking image beside a sidecar that describes another one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image_format.h"

namespace kestro::cli {

// Every path a backup to `image` may create or replace.
std::vector<std::string> BackupPaths(const std::string& image);

class ImagePublisher {
 public:
  explicit ImagePublisher(std::string image) : image_(std::move(image)) {}
  // Removes the staged sidecar and rescue map unless they were published.
  ~ImagePublisher();
  ImagePublisher(const ImagePublisher&) = delete;
  ImagePublisher& operator=(const ImagePublisher&) = delete;

  // Writes and flushes the new sidecar and rescue map under their staging names; the previous
  // files are untouched, so that running out of space here loses nothing.
  void Stage(const ImageLayout& layout, const std::optional<std::string>& rescueMap);

  // Renames the complete, flushed IMAGE.partial and the staged files into place.
  void Publish();

 private:
  std::string image_;
  ImageLayout layout_;
  bool hasRescueMap_ = false;
  bool published_ = false;
};

}  // namespace kestro::cli
