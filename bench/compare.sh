#!/usr/bin/env bash
# Times kestro against the standard tool that does the same work, on the same bytes, and prints
# the median time of each and the ratio kestro/tool (lower is better; the goal column is the
# ratio kestro aims at).
#
# The volume is a FAT32 image of SIZE_MIB (default 1024): a quarter random bytes, a quarter text
# (which compresses), the rest zeros (holes in a sparse image). It sits in the page cache for every
# program alike. The two commands of a row run alternately, RUNS times each (default 7), so that
# a change in the machine's load falls on both. Copies go to OUT_DIR (default /dev/shm, leaving
# the disk's write speed out); every copy is flushed before the clock stops. With root and a free
# loop device the backup rows run again on the volume through a loop device read with O_DIRECT.
#
#   bench/compare.sh [KESTRO]     KESTRO defaults to build/release/tools/kestro/kestro
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
kestro="${1:-$root/build/release/tools/kestro/kestro}"
size_mib="${SIZE_MIB:-1024}"
runs="${RUNS:-7}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestro-compare-XXXXXX")"
out="$(mktemp -d "${OUT_DIR:-/dev/shm}/kestro-compare-out-XXXXXX")"
loop=""
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop"
  rm -rf "$work" "$out"
}
trap cleanup EXIT

[ -x "$kestro" ] || { echo "no kestro at $kestro; build the release preset first" >&2; exit 1; }
for tool in dd openssl zstd mkfs.fat mcopy; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

volume="$work/volume.img"
truncate -s "${size_mib}M" "$volume"
mkfs.fat -F 32 -n BENCH "$volume" >/dev/null
quarter=$((size_mib / 4))
head -c "${quarter}M" /dev/urandom >"$work/random.bin"
# Base64 of three quarters as much random data fills a quarter; folding half the letters into one
# makes it compress.
head -c "$((quarter * 768))K" "$work/random.bin" | base64 -w 100 | tr 'A-M' 'a' >"$work/text.txt"
MTOOLS_SKIP_CHECK=1 mcopy -i "$volume" "$work/random.bin" "$work/text.txt" ::/
rm -f "$work/random.bin" "$work/text.txt"
cat "$volume" >/dev/null

# Seconds one command takes, its output discarded.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", e - s }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# row NAME GOAL PREPARE -- KESTRO... -- TOOL...: PREPARE runs before each command (clearing the
# copies), then the two commands alternate.
row() {
  local name=$1 goal=$2 prepare=$3
  shift 4
  local mine=() theirs=() k=() t=()
  while [ "$1" != "--" ]; do mine+=("$1"); shift; done
  shift
  theirs=("$@")
  for _ in $(seq "$runs"); do
    $prepare
    k+=("$(seconds "${mine[@]}")")
    $prepare
    t+=("$(seconds "${theirs[@]}")")
  done
  local km tm
  km=$(printf '%s\n' "${k[@]}" | median)
  tm=$(printf '%s\n' "${t[@]}" | median)
  awk -v n="$name" -v k="$km" -v t="$tm" -v g="$goal" \
    'BEGIN { printf "| %-54s | %7.2f s | %7.2f s | %5.2fx | <= %s |\n", n, k, t, k / t, g }'
}

clear_copies() { rm -f "$out"/copy*; }
target="$out/target.img"
make_target() { cp --sparse=always "$volume" "$target"; }

dd_row() {
  local source=$1 label=$2 direct=$3
  row "backup --hash none vs dd conv=sparse$label" 1.0 clear_copies -- \
    "$kestro" backup "$source" "$out/copy.img" -q --hash none -- \
    dd if="$source" of="$out/copy.img" bs=1M conv=sparse,fsync $direct status=none
}

printf 'volume: %s MiB FAT32 (a quarter random, a quarter text, the rest zeros); copies in %s;\n' \
  "$size_mib" "$(dirname "$out")"
printf 'median of %s alternating runs each\n\n' "$runs"
printf '| %-54s | %9s | %9s | %6s | %6s |\n' "kestro vs tool" kestro tool ratio goal
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..56})" ----------- ----------- -------- --------
dd_row "$volume" "" ""
row "backup (sha256) vs openssl dgst -sha256" 1.1 clear_copies -- \
  "$kestro" backup "$volume" "$out/copy.img" -q -- \
  openssl dgst -sha256 "$volume"
row "backup --compress zstd vs zstd -T0 -3" 1.05 clear_copies -- \
  "$kestro" backup "$volume" "$out/copy.img" -q --hash none --compress zstd -- \
  zstd -T0 -3 -q -f "$volume" -o "$out/copy.img.zst"

make_target
"$kestro" backup "$volume" "$work/restore.img" -q --hash xxh128 >/dev/null
row "restore --hash xxh128 vs dd" 1.0 : -- \
  "$kestro" restore "$work/restore.img" "$target" -q --hash xxh128 -- \
  dd if="$work/restore.img" of="$target" bs=1M conv=notrunc,fsync status=none

# Used-only backups (copying only the file system's allocated clusters) add their rows here.

if [ "$(id -u)" = 0 ] && loop=$(losetup --direct-io=on -f --show -r "$volume" 2>/dev/null); then
  dd_row "$loop" " (loop, O_DIRECT)" iflag=direct
fi
