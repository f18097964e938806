#!/usr/bin/env bash
# Fault soak: the NT model over an image file through the POSIX backend, with about one call in
# a hundred failing or falling short (transfers, pointer moves, allocations), for OPS operations.
# Prints the operations, the faults injected and the wrong results reported as success, which
# must be none.
#
#   tests/soak.sh [OPS] [SEED]      (defaults: 10,000,000 operations, seed from the date)
set -euo pipefail
cd "$(dirname "$0")/.."

operations=${1:-10000000}
seed=${2:-$(date +%Y%m%d)}
binary=build/release/tests/model_tests

if [[ ! -x $binary ]]; then
  cmake --preset release >/dev/null
fi
cmake --build --preset release -j2 --target model_tests >/dev/null

echo "soak: $operations operations, seed $seed, one fault in 100 calls"
start=$(date +%s.%N)
set +e
output=$(KESTRO_MODEL_OPERATIONS=$operations KESTRO_MODEL_SEED=$seed KESTRO_MODEL_FAULT_ONE_IN=100 \
  "$binary" --gtest_filter='NtModel.OnAnImageFileUnderInjectedFaults*' 2>&1)
status=$?
set -e
end=$(date +%s.%N)

summary=$(grep '^model under faults:' <<<"$output" || true)
if [[ $status -ne 0 || -z $summary ]]; then
  grep -v '^Before ' <<<"$output" | tail -40
  echo "soak: FAILED"
  exit 1
fi
done_operations=$(sed -E 's/^model under faults: ([0-9]+) operations.*/\1/' <<<"$summary")
echo "$summary"
awk -v from="$start" -v to="$end" -v ops="$done_operations" \
  'BEGIN { printf "soak: %.1f s, %.0f operations per second\n", to - from, ops / (to - from) }'
