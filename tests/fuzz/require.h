// What a fuzzer checks beyond "no crash": a broken expectation stops the run as a crash would, so
// libFuzzer keeps the input that broke it.
#pragma once

namespace kestro::fuzz {

inline void Require(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace kestro::fuzz
