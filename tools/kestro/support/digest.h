// Digests of the bytes a command moves: SHA-256 (OpenSSL's EVP interface, which uses the CPU's
// SHA instructions where it has them), XXH128, or none.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::cli {

enum class HashKind { kSha256, kXxh128, kNone };

class Digest {
 public:
  virtual ~Digest() = default;
  virtual void Update(const void* data, size_t length) = 0;
  // The digest in lower-case hex as sha256sum and xxh128sum print it; "" for kNone.
  virtual std::string HexFinal() = 0;
};

std::unique_ptr<Digest> MakeDigest(HashKind kind);

// "sha256", "xxh128" or "none", as the command line and the image's sidecar spell it.
const char* HashName(HashKind kind);

// The kind a name gives, in any letter case.
std::optional<HashKind> HashKindNamed(std::string_view name);

// Why `hex` cannot be a digest of `kind` ("is empty", "has 12 characters; a sha256 digest has
// 64", "is not hexadecimal"); nothing when it can. Either letter case is hex.
std::optional<std::string> DigestTextFault(HashKind kind, std::string_view hex);

std::string LowerCase(std::string_view text);

}  // namespace kestro::cli
