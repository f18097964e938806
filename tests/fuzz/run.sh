#!/usr/bin/env bash
# Builds the fuzzers (the fuzz preset) when needed and runs each for SECONDS, starting from its
# committed seeds plus what earlier runs here found (build/fuzz/corpus). Fails when any fuzzer
# crashes; the input that did it is left as build/fuzz/crashes/<fuzzer>/crash-*.
#
#   tests/fuzz/run.sh SECONDS [FUZZER...]
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:?usage: tests/fuzz/run.sh SECONDS [FUZZER...]}
shift
fuzzers=("$@")
[[ ${#fuzzers[@]} -gt 0 ]] || fuzzers=(ondisk volume model vwin32)

[[ -f build/fuzz/CMakeCache.txt ]] || cmake --preset fuzz >/dev/null
targets=()
for fuzzer in "${fuzzers[@]}"; do targets+=("${fuzzer}_fuzzer"); done
cmake --build --preset fuzz -j2 --target "${targets[@]}" >/dev/null

failed=()
for fuzzer in "${fuzzers[@]}"; do
  found=build/fuzz/corpus/$fuzzer
  crashes=build/fuzz/crashes/$fuzzer
  mkdir -p "$found" "$crashes"
  echo "fuzz: $fuzzer for ${seconds}s"
  if ! "build/fuzz/tests/fuzz/${fuzzer}_fuzzer" \
      -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$found" "tests/fuzz/corpus/$fuzzer" >"$crashes/log" 2>&1; then
    tail -50 "$crashes/log"
    failed+=("$fuzzer")
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$crashes/log" | tail -2 || true
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: crashed: ${failed[*]}"
  exit 1
fi
echo "fuzz: no crashes"
