#!/usr/bin/env bash
# Times `kestro backup` against `dd bs=1M` on the same volume image and prints MB/s.
#
# The volume is a FAT32 image of SIZE_MIB (default 1024) whose file system is nearly full of
# incompressible data, so that almost every block has to be read, hashed and written. Every
# program reads the same image from the page cache and writes its copy beside it, and each copy is
# flushed to disk before the clock stops (dd with conv=fsync; kestro always flushes its image).
# Each measurement is the best of RUNS (default 3). OUT_DIR (default: beside the volume) takes the
# copies elsewhere, e.g. OUT_DIR=/dev/shm to time the programs without the disk's write speed.
#
#   bench/backup_vs_dd.sh [KESTRO]     KESTRO defaults to build/release/tools/kestro/kestro
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
kestro="${1:-$root/build/release/tools/kestro/kestro}"
size_mib="${SIZE_MIB:-1024}"
runs="${RUNS:-3}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestro-bench-XXXXXX")"
out_dir="$(mktemp -d "${OUT_DIR:-$work}/kestro-bench-out-XXXXXX")"
trap 'rm -rf "$work" "$out_dir"' EXIT

[ -x "$kestro" ] || { echo "no kestro at $kestro; build the release preset first" >&2; exit 1; }

volume="$work/volume.img"
truncate -s "${size_mib}M" "$volume"
mkfs.fat -F 32 -n BENCH "$volume" >/dev/null
# Fill all but the last 5% with random data: the rest stays zero and becomes holes in the image.
fill_mib=$((size_mib * 95 / 100))
head -c "${fill_mib}M" /dev/urandom >"$work/data.bin"
MTOOLS_SKIP_CHECK=1 mcopy -i "$volume" "$work/data.bin" ::/DATA.BIN
rm -f "$work/data.bin"
bytes=$(stat -c %s "$volume")
cat "$volume" >/dev/null  # into the page cache, for every program alike

# Runs a command RUNS times and prints the best throughput in MB/s (10^6 bytes per second).
best_rate() {
  local best=0 start end rate
  for _ in $(seq "$runs"); do
    rm -f "$out_dir/out.img" "$out_dir/out.img.kestro"
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(awk -v b="$bytes" -v s="$start" -v e="$end" -v best="$best" \
      'BEGIN { r = b / (e - s) / 1e6; print (r > best ? r : best) }')
  done
  printf '%8.1f MB/s' "$best"
}

printf 'volume: %s MiB FAT32, %s MiB of it random data; copies in %s; best of %s runs\n' \
  "$size_mib" "$fill_mib" "$(dirname "$out_dir")" "$runs"
printf '%-36s %s\n' "dd bs=1M conv=fsync" \
  "$(best_rate dd if="$volume" of="$out_dir/out.img" bs=1M conv=fsync status=none)"
printf '%-36s %s\n' "dd bs=1M conv=sparse,fsync" \
  "$(best_rate dd if="$volume" of="$out_dir/out.img" bs=1M conv=sparse,fsync status=none)"
for hash in none xxh128 sha256; do
  printf '%-36s %s\n' "kestro backup --hash $hash" \
    "$(best_rate "$kestro" backup "$volume" "$out_dir/out.img" --quiet --hash "$hash")"
done
printf '%-36s %s\n' "sha256sum (for reference)" "$(best_rate sha256sum "$volume")"
