// The CRC-32 (IEEE 802.3, reflected, as zlib computes it) that GPT headers and entries carry.
#pragma once

#include <cstdint>
#include <span>

namespace kestro::ondisk {

// Continues `crc` (0 to start) over `bytes`.
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

}  // namespace kestro::ondisk
