#include "image_publisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include "rescue.h"
#include "small_files.h"

namespace kestro::cli {

std::vector<std::string> BackupPaths(const std::string& image) {
  const std::string staged = StagingPath(image);
  return {image,
          staged,
          SidecarPath(image),
          StagingPath(SidecarPath(image)),
          SidecarPath(staged),
          RescueMapPath(image),
          RescueMapPath(staged)};
}

ImagePublisher::~ImagePublisher() {
  if (published_) return;
  const std::string staged = StagingPath(image_);
  unlink(SidecarPath(staged).c_str());
  if (hasRescueMap_) unlink(RescueMapPath(staged).c_str());
}

void ImagePublisher::Stage(const ImageLayout& layout, const std::optional<std::string>& rescueMap) {
  const std::string staged = StagingPath(image_);
  layout_ = layout;
  WriteNewFile(SidecarPath(staged), SidecarText(layout_));
  hasRescueMap_ = rescueMap.has_value();
  if (hasRescueMap_) WriteNewFile(RescueMapPath(staged), *rescueMap);
}

void ImagePublisher::Publish() {
  const std::string staged = StagingPath(image_);
  struct stat previous {};
  if (stat(SidecarPath(image_).c_str(), &previous) == 0) {
    ImageLayout replacing = layout_;
    replacing.complete = false;
    WriteSidecar(image_, replacing);
  }
  RenameDurably(staged, image_);
  // The image is in place: from here the staged files belong with it and are kept on failure.
  published_ = true;
  if (hasRescueMap_) {
    RenameDurably(RescueMapPath(staged), RescueMapPath(image_));
  } else {
    unlink(RescueMapPath(image_).c_str());
  }
  RenameDurably(SidecarPath(staged), SidecarPath(image_));
}

}  // namespace kestro::cli
