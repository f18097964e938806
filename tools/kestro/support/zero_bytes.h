// One shared block of zeros: what holes are written and hashed from, and what blocks are compared
// against to find them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::cli {

inline constexpr size_t kZeroBytes = 64u << 10;

// `kZeroBytes` zero bytes that live as long as the program.
const uint8_t* ZeroBytes();

}  // namespace kestro::cli
