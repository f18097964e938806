#include "image/image_format.h"

#include <nlohmann/json.hpp>

#include "image/small_files.h"
#include "support/digest.h"
#include "support/errors.h"

namespace kestro::cli {

namespace {

constexpr const char* kFormat = "kestro image";
constexpr int kVersion = 1;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

nlohmann::ordered_json FileJson(const FileIdentity& file) {
  return {{"inode", file.inode}, {"bytes", file.bytes}, {"modified_ns", file.modifiedNs}};
}

// Whether the sidecar `json` says it was written for `file`. The device is left out: it changes
// when a disk is attached elsewhere.
bool WrittenFor(const nlohmann::json& json, const FileIdentity& file) {
  if (!json.contains("file")) return false;
  const nlohmann::json& recorded = json.at("file");
  return recorded.at("inode").get<uint64_t>() == file.inode &&
         recorded.at("bytes").get<uint64_t>() == file.bytes &&
         recorded.at("modified_ns").get<int64_t>() == file.modifiedNs;
}

// The recorded digest, in lower case; throws Failure naming the field when it cannot be one.
std::string RecordedDigest(const nlohmann::json& json, const std::string& hash,
                           const std::string& path) {
  const auto kind = HashKindNamed(hash);
  if (json.contains("digest") && !json.at("digest").is_string()) {
    throw Failure(path, "is malformed: its \"digest\" field is not a string");
  }
  std::string digest = json.value("digest", "");
  if (!kind || *kind == HashKind::kNone) {
    if (!digest.empty() && kind) {
      throw Failure(path, "is malformed: its \"digest\" field is set, but its \"hash\" is none");
    }
    return digest;
  }
  if (!json.contains("digest")) {
    throw Failure(path, "is malformed: its \"digest\" field is missing");
  }
  if (const auto fault = DigestTextFault(*kind, digest)) {
    throw Failure(path, "is malformed: its \"digest\" field " + *fault);
  }
  return LowerCase(digest);
}

ImageLayout LayoutFrom(const nlohmann::json& json, const std::string& path) {
  if (json.at("format") != kFormat || json.at("version") != kVersion) {
    throw Failure(path, "not a sidecar this version of kestro reads");
  }
  ImageLayout layout;
  layout.volumeBytes = json.at("volume_bytes").get<uint64_t>();
  layout.tailBytes = json.at("tail_bytes").get<uint64_t>();
  layout.source = json.value("source", "");
  layout.fileSystem = json.value("file_system", "");
  layout.partitionOffset = json.value("partition_offset", uint64_t{0});
  layout.hash = json.value("hash", "none");
  layout.digest = RecordedDigest(json, layout.hash, path);
  layout.unreadableBytes = json.value("unreadable_bytes", uint64_t{0});
  layout.rescue = json.value("rescue", false);
  layout.usedOnly = json.value("used_only", false);
  // Sidecars from before this field were written only once their image was complete.
  layout.complete = json.value("complete", true);
  layout.compression = json.value("compression", "none");
  layout.zstdFrameBytes = json.value("zstd_frame_bytes", uint64_t{0});
  layout.described = true;
  return layout;
}

// The sidecar `name` in `folder` as JSON; nothing when there is none.
std::optional<nlohmann::json> ReadSidecarJson(const ImageFolder& folder, const std::string& name,
                                              uid_t* owner) {
  const std::string path = folder.PathOf(name);
  const auto text = ReadSmallFile(folder, name, owner);
  if (!text) return std::nullopt;
  try {
    return nlohmann::json::parse(*text);
  } catch (const nlohmann::json::parse_error& e) {
    // The parser's own words quote the bytes it read, which are not ours to show.
    throw Failure(path, "cannot read: not valid JSON (at byte " + std::to_string(e.byte) + ")");
  }
}

// The sidecar that belongs to `file`, and its path: the one beside the image or the staged one,
// whichever says it was written for this file; otherwise the one beside the image, if any. A
// staged sidecar counts only when the image's owner wrote it: in a folder others may write to,
// someone else could have put it there; the one beside the image is refused unless the image's
// owner or root wrote it.
std::optional<std::pair<nlohmann::json, std::string>> SidecarFor(const ImageFolder& folder,
                                                                 const FileIdentity& file) {
  const std::string path = folder.PathOf(SidecarPath(folder.image()));
  uid_t owner = 0;
  auto json = ReadSidecarJson(folder, SidecarPath(folder.image()), &owner);
  // Someone else may have put it in a folder they can write to: the image is then one without a
  // sidecar, which cannot be checked unless the caller gives the digest or --force.
  if (json && owner != file.owner && owner != 0) {
    Warn(path, "belongs to uid " + std::to_string(owner) +
                   ", neither the image's owner nor root; it is not believed");
    json.reset();
  }
  try {
    if (json && WrittenFor(*json, file)) return std::pair(*json, path);
    const std::string staged = SidecarPath(StagingPath(folder.image()));
    const auto stagedJson = ReadSidecarJson(folder, staged, &owner);
    if (stagedJson && owner == file.owner && WrittenFor(*stagedJson, file)) {
      return std::pair(*stagedJson, folder.PathOf(staged));
    }
  } catch (const nlohmann::json::exception& e) {
    throw Failure(path, std::string("cannot read: ") + e.what());
  }
  if (json) return std::pair(*json, path);
  return std::nullopt;
}

}  // namespace

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{
      static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
      static_cast<uint64_t>(st.st_size),
      static_cast<int64_t>(st.st_mtim.tv_sec) * kNanosecondsPerSecond + st.st_mtim.tv_nsec,
      st.st_uid};
}

std::string SidecarPath(const std::string& image) {
  return image + ".kestro";
}

std::string SidecarText(const ImageLayout& layout) {
  nlohmann::ordered_json json = {
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
      {"used_only", layout.usedOnly},
      {"complete", layout.complete},
      {"compression", layout.compression},
  };
  if (layout.zstdFrameBytes != 0) json["zstd_frame_bytes"] = layout.zstdFrameBytes;
  if (layout.file) json["file"] = FileJson(*layout.file);
  // Names that are not UTF-8 are kept readable rather than failing the whole backup at its end.
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool SidecarWrittenFor(const ImageFolder& folder, const std::string& name,
                       const FileIdentity& file) {
  try {
    uid_t owner = 0;
    const auto json = ReadSidecarJson(folder, name, &owner);
    return json && owner == file.owner && WrittenFor(*json, file);
  } catch (const std::exception&) {
    return false;
  }
}

ImageLayout ReadImageLayout(const std::string& image, uint64_t imageSize,
                            const FileIdentity& file) {
  // The sidecar is read through the folder the image was opened from, and only from there.
  const ImageFolder folder(image);
  if (!folder.Leads(folder.image(), file.device, file.inode)) {
    throw Failure(image, "was replaced or moved while it was opened; nothing was read from it");
  }
  const auto sidecar = SidecarFor(folder, file);
  if (!sidecar) {
    ImageLayout layout;
    layout.volumeBytes = imageSize;
    return layout;
  }
  const auto& [json, path] = *sidecar;
  ImageLayout layout;
  try {
    layout = LayoutFrom(json, path);
  } catch (const nlohmann::json::exception& e) {
    throw Failure(path, std::string("cannot read: ") + e.what());
  }
  if (layout.tailBytes > imageSize || layout.volumeBytes != imageSize - layout.tailBytes) {
    throw Failure(image,
                  "is " + std::to_string(imageSize) + " bytes, which disagrees with " + path);
  }
  return layout;
}

}  // namespace kestro::cli
