// The model runs' sizes and seeds. Every run is deterministic; a failure reports its seed, and
// KESTRO_MODEL_SEED=<n> starts the runs from another base seed. Longer runs (the soak) set
// KESTRO_MODEL_OPERATIONS=<n> for about n operations per run, in configurations of the usual
// length, and KESTRO_MODEL_FAULT_ONE_IN=<n> for one fault in n calls of each faulted kind.
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

// The configurations of a run that usually has `usual` of them.
inline int ModelConfigurations(int usual) {
  const char* operations = std::getenv("KESTRO_MODEL_OPERATIONS");
  if (!operations) return usual;
  const uint64_t total = std::stoull(operations);
  return static_cast<int>((total + kModelOperations - 1) / kModelOperations);
}

// One fault in how many calls of a kind that usually fails one call in `usual`.
inline uint32_t ModelFaultOneIn(uint32_t usual) {
  const char* oneIn = std::getenv("KESTRO_MODEL_FAULT_ONE_IN");
  return oneIn ? static_cast<uint32_t>(std::stoul(oneIn)) : usual;
}

}  // namespace kestro::testing
