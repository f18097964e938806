#include "support/digest.h"

#include <openssl/evp.h>
#include <xxhash.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace kestro::cli {
namespace {

std::string Hex(const unsigned char* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

class Sha256 : public Digest {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
      EVP_MD_CTX_free(context_);
      throw std::runtime_error("cannot start a SHA-256 digest");
    }
  }
  ~Sha256() override { EVP_MD_CTX_free(context_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t length) override {
    EVP_DigestUpdate(context_, data, length);
  }
  std::string HexFinal() override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest, &length);
    return Hex(digest, length);
  }

 private:
  EVP_MD_CTX* context_;
};

class Xxh128 : public Digest {
 public:
  Xxh128() : state_(XXH3_createState()) {
    if (state_ == nullptr || XXH3_128bits_reset(state_) != XXH_OK) {
      XXH3_freeState(state_);
      throw std::runtime_error("cannot start an XXH128 digest");
    }
  }
  ~Xxh128() override { XXH3_freeState(state_); }
  Xxh128(const Xxh128&) = delete;
  Xxh128& operator=(const Xxh128&) = delete;

  void Update(const void* data, size_t length) override {
    XXH3_128bits_update(state_, data, length);
  }
  std::string HexFinal() override {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_));
    return Hex(canonical.digest, sizeof canonical.digest);
  }

 private:
  XXH3_state_t* state_;
};

class NoDigest : public Digest {
 public:
  void Update(const void*, size_t) override {}
  std::string HexFinal() override { return {}; }
};

}  // namespace

std::unique_ptr<Digest> MakeDigest(HashKind kind) {
  switch (kind) {
    case HashKind::kSha256:
      return std::make_unique<Sha256>();
    case HashKind::kXxh128:
      return std::make_unique<Xxh128>();
    case HashKind::kNone:
      break;
  }
  return std::make_unique<NoDigest>();
}

const char* HashName(HashKind kind) {
  switch (kind) {
    case HashKind::kSha256:
      return "sha256";
    case HashKind::kXxh128:
      return "xxh128";
    case HashKind::kNone:
      break;
  }
  return "none";
}

std::optional<std::string> DigestTextFault(HashKind kind, std::string_view hex) {
  // Two hex digits a byte.
  const size_t bytes = kind == HashKind::kSha256 ? 32 : kind == HashKind::kXxh128 ? 16 : 0;
  const size_t length = 2 * bytes;
  if (hex.empty()) return "is empty";
  if (hex.size() != length) {
    return "has " + std::to_string(hex.size()) + " characters; a " + HashName(kind) +
           " digest has " + std::to_string(length);
  }
  const bool isHex = std::all_of(
      hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (!isHex) return "is not hexadecimal";
  return std::nullopt;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<HashKind> HashKindNamed(std::string_view name) {
  for (HashKind kind : {HashKind::kSha256, HashKind::kXxh128, HashKind::kNone}) {
    const std::string_view known = HashName(kind);
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      return kind;
    }
  }
  return std::nullopt;
}

}  // namespace kestro::cli
