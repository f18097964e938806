#include "image_format.h"

#include <nlohmann/json.hpp>

#include "errors.h"
#include "small_files.h"

namespace kestro::cli {

namespace {

constexpr const char* kFormat = "kestro image";
constexpr int kVersion = 1;

}  // namespace

std::string SidecarPath(const std::string& image) {
  return image + ".kestro";
}

std::string SidecarText(const ImageLayout& layout) {
  const nlohmann::ordered_json json = {
      {"format", kFormat},
      {"version", kVersion},
      {"volume_bytes", layout.volumeBytes},
      {"tail_bytes", layout.tailBytes},
      {"source", layout.source},
      {"file_system", layout.fileSystem},
      {"partition_offset", layout.partitionOffset},
      {"hash", layout.hash},
      {"digest", layout.digest},
      {"unreadable_bytes", layout.unreadableBytes},
      {"rescue", layout.rescue},
      {"complete", layout.complete},
      {"compression", layout.compression},
  };
  return json.dump(2) + "\n";
}

void WriteSidecar(const std::string& image, const ImageLayout& layout) {
  ReplaceFile(SidecarPath(image), SidecarText(layout));
}

ImageLayout ReadImageLayout(const std::string& image, uint64_t imageSize) {
  ImageLayout layout;
  layout.volumeBytes = imageSize;
  const std::string path = SidecarPath(image);
  const auto text = ReadSmallFile(path);
  if (!text) return layout;
  try {
    const nlohmann::json json = nlohmann::json::parse(*text);
    if (json.at("format") != kFormat || json.at("version") != kVersion) {
      throw Failure(path, "not a sidecar this version of kestro reads");
    }
    layout.volumeBytes = json.at("volume_bytes").get<uint64_t>();
    layout.tailBytes = json.at("tail_bytes").get<uint64_t>();
    layout.source = json.value("source", "");
    layout.fileSystem = json.value("file_system", "");
    layout.partitionOffset = json.value("partition_offset", uint64_t{0});
    layout.hash = json.value("hash", "none");
    layout.digest = json.value("digest", "");
    layout.unreadableBytes = json.value("unreadable_bytes", uint64_t{0});
    layout.rescue = json.value("rescue", false);
    // Sidecars from before this field were written only once their image was complete.
    layout.complete = json.value("complete", true);
    layout.compression = json.value("compression", "none");
  } catch (const nlohmann::json::exception& e) {
    throw Failure(path, std::string("cannot read: ") + e.what());
  }
  layout.described = true;
  if (layout.tailBytes > imageSize || layout.volumeBytes != imageSize - layout.tailBytes) {
    throw Failure(image,
                  "is " + std::to_string(imageSize) + " bytes, which disagrees with " + path);
  }
  return layout;
}

}  // namespace kestro::cli
