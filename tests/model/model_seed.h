// The model runs' sizes and seeds. Every run is deterministic; a failure reports its seed, and
// KESTRO_MODEL_SEED=<n> starts the runs from another base seed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

namespace kestro::testing {

// Configurations per run, each with its own staging buffer and volume size.
inline constexpr int kModelConfigurations = 25;
// Operations per configuration: 200,000 per family and run.
inline constexpr int kModelOperations = 8000;
static_assert(kModelConfigurations * kModelOperations >= 200000);

inline uint64_t ModelSeed(int configuration) {
  const char* base = std::getenv("KESTRO_MODEL_SEED");
  return (base ? uint64_t{std::stoull(base)} : 20261201u) + static_cast<uint64_t>(configuration);
}

}  // namespace kestro::testing
