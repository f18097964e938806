#include "image/image_publisher.h"

#include <sys/stat.h>

#include "image/rescue_map.h"
#include "image/small_files.h"

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

ImagePublisher::ImagePublisher(const ImageFolder& folder, mode_t mode)
    : folder_(folder), mode_(mode) {
  FinishInterrupted();
}

ImagePublisher::~ImagePublisher() {
  if (published_ || !staged_) return;
  const std::string staged = StagingPath(folder_.image());
  folder_.Remove(SidecarPath(staged));
  if (hasRescueMap_) folder_.Remove(RescueMapPath(staged));
}

void ImagePublisher::FinishInterrupted() {
  const std::string& image = folder_.image();
  const std::string staged = StagingPath(image);
  struct stat st {};
  if (!folder_.Status(image, &st) ||
      !SidecarWrittenFor(folder_, SidecarPath(staged), IdentityOf(st))) {
    return;
  }
  // The staged map is that backup's only if the image's owner wrote it; without one, the image
  // had none, and the previous image's map goes.
  struct stat map {};
  if (folder_.Status(RescueMapPath(staged), &map) && S_ISREG(map.st_mode) &&
      map.st_uid == st.st_uid) {
    folder_.Rename(RescueMapPath(staged), RescueMapPath(image));
  } else {
    folder_.Remove(RescueMapPath(staged));
    folder_.Remove(RescueMapPath(image));
  }
  folder_.Rename(SidecarPath(staged), SidecarPath(image));
  folder_.Sync();
}

void ImagePublisher::Stage(const ImageLayout& layout, const std::optional<std::string>& rescueMap) {
  const std::string staged = StagingPath(folder_.image());
  // A staged rescue map is this backup's or none: one an older run left must not be published.
  staged_ = true;
  folder_.Remove(RescueMapPath(staged));
  WriteNewFile(folder_, SidecarPath(staged), SidecarText(layout), mode_);
  hasRescueMap_ = rescueMap.has_value();
  if (hasRescueMap_) WriteNewFile(folder_, RescueMapPath(staged), *rescueMap, mode_);
}

void ImagePublisher::PlaceRescueMap() {
  const std::string& image = folder_.image();
  if (hasRescueMap_) {
    folder_.Rename(RescueMapPath(StagingPath(image)), RescueMapPath(image));
  } else {
    folder_.Remove(RescueMapPath(image));
  }
  folder_.Sync();
}

void ImagePublisher::Publish(SparseImageWriter& written) {
  const std::string& image = folder_.image();
  const std::string staged = StagingPath(image);
  folder_.Rename(staged, image);
  // The image is in place: from here the staged files belong with it and are kept on failure.
  written.Keep();
  published_ = true;
  folder_.Sync();
  PlaceRescueMap();
  folder_.Rename(SidecarPath(staged), SidecarPath(image));
  folder_.Sync();
}

}  // namespace kestro::cli
