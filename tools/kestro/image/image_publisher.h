// Putting a finished backup in place of the previous one, so that a restorable image stands at
// every moment whatever fails or kills the backup. Everything is written under staging names
// first (the image as IMAGE.partial, its sidecar as IMAGE.partial.kestro, its rescue map as
// IMAGE.partial.rescue-map) and flushed; the sidecar records which file it was written for. Then
// the image is renamed into place, then the rescue map, then the sidecar, flushing the folder
// after each. Until the image's rename the previous image stands with its own sidecar; after it
// the new image stands, and a reader that finds the previous sidecar beside it takes the staged
// one, which was written for it (see image_format.h). The next backup to the same image first
// finishes such an interrupted publish.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "image/image_folder.h"
#include "image/image_format.h"
#include "image/write/sparse_image_writer.h"

namespace kestro::cli {

// Every path a backup to `image` may create or replace.
std::vector<std::string> BackupPaths(const std::string& image);

class ImagePublisher {
 public:
  // Publishes the image named in `folder`; the small files get `mode`, as the image does. First
  // finishes an earlier backup's publish that was killed after its image's rename, so that the
  // image in place has its own sidecar before this backup's long copy starts.
  ImagePublisher(const ImageFolder& folder, mode_t mode);
  // Removes the sidecar and rescue map it staged unless the image was published.
  ~ImagePublisher();
  ImagePublisher(const ImagePublisher&) = delete;
  ImagePublisher& operator=(const ImagePublisher&) = delete;

  // Writes and flushes the new sidecar and rescue map under their staging names; the previous
  // files are untouched, so that running out of space here loses nothing.
  void Stage(const ImageLayout& layout, const std::optional<std::string>& rescueMap);

  // Renames the complete, flushed IMAGE.partial that `image` wrote and the staged files into
  // place; `image` keeps its file from the moment it is in place.
  void Publish(SparseImageWriter& image);

 private:
  // Puts in place the staged files of an earlier backup killed after its image's rename.
  void FinishInterrupted();
  void PlaceRescueMap();

  const ImageFolder& folder_;
  mode_t mode_;
  bool hasRescueMap_ = false;
  bool staged_ = false;
  bool published_ = false;
};

}  // namespace kestro::cli
