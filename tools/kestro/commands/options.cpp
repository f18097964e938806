#include "commands/options.h"

#include "image/zstd_option.h"
#include "support/sizes.h"

namespace kestro::cli {
namespace {

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kLargestBuffer = 1u << 30;
constexpr unsigned kLargestMode = 0777;  // never setuid, setgid or sticky

std::string NotASize(const std::string& text) {
  return "not a size: " + text + " (digits, then K, M, G or T)";
}

const CLI::Validator kBufferSize(
    [](std::string& text) -> std::string {
      const auto size = ParseSize(text);
      if (!size) return NotASize(text);
      if (*size < kPageSize || *size > kLargestBuffer || *size % kPageSize != 0) {
        return "the buffer must be a multiple of 4K from 4K to 1G, not " + text;
      }
      text = std::to_string(*size);
      return "";
    },
    "SIZE");

}  // namespace

const CLI::Validator kSize(
    [](std::string& text) -> std::string {
      const auto size = ParseSize(text);
      if (!size) return NotASize(text);
      text = std::to_string(*size);
      return "";
    },
    "SIZE");

const CLI::Validator kCompression(
    [](std::string& text) -> std::string {
      if (ParseZstdOption(text)) return "";
      return "not a compression: " + text +
             " (zstd, zstd:LEVEL from 1 to 19, then ,frame=SIZE from 64K to 64M)";
    },
    "zstd[:LEVEL][,frame=SIZE]");

const CLI::Validator kMode(
    [](std::string& text) -> std::string {
      const bool octal = !text.empty() && text.size() <= 4 &&
                         text.find_first_not_of("01234567") == std::string::npos;
      if (!octal || std::stoul(text, nullptr, 8) > kLargestMode) {
        return "not a mode: " + text +
               " (octal permission bits up to 0777; no setuid, setgid or sticky bit)";
      }
      text = std::to_string(std::stoul(text, nullptr, 8));
      return "";
    },
    "OCTAL");

void AddVolume(CLI::App& command, VolumeArgs& volume) {
  command
      .add_option("VOLUME", volume.volume,
                  "A mapped drive letter (C:), or a block device or image file")
      ->required();
  command
      .add_option("--partition", volume.partition,
                  "Partition N of the device or image (as its partition table numbers it)")
      ->check(CLI::Range(1u, 256u))
      ->option_text("N");
}

void AddImage(CLI::App& command, std::string& image, const char* what) {
  command.add_option("IMAGE", image, what)->required();
}

void AddBuffer(CLI::App& command, uint64_t& bufferSize) {
  command.add_option("--buffer", bufferSize, "Transfer size and staging buffer (default 1M)")
      ->transform(kBufferSize)
      ->option_text("SIZE");
}

void AddHash(CLI::App& command, HashKind& hash, bool allowNone) {
  const char* names = allowNone ? "sha256|xxh128|none" : "sha256|xxh128";
  command.add_option("--hash", hash, "Digest of the image (default sha256)")
      ->transform(CLI::Validator(
          [allowNone, names](std::string& text) -> std::string {
            const auto kind = HashKindNamed(text);
            if (!kind || (!allowNone && *kind == HashKind::kNone)) {
              return "not a digest: " + text + " (" + names + ")";
            }
            text = std::to_string(static_cast<int>(*kind));
            return "";
          },
          names))
      ->option_text(names);
}

}  // namespace kestro::cli
