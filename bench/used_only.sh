#!/usr/bin/env bash
# Times `kestro backup --used-only` against the full `kestro backup`, and against partclone.fat32
# (FAT32) and ntfsclone (NTFS), on 1 GiB volumes made the way real disks are: random bytes left by
# earlier use, then mkfs, then about 10% of the volume in files. Each round runs every program once,
# in turn, on a volume evicted from the page cache (so every program reads it from the disk, as a
# backup does); each copy is flushed before the clock stops. Prints the median time of each
# program over RUNS (default 7) rounds and the median of the per-round ratios.
#
#   bench/used_only.sh [KESTRO]     KESTRO defaults to build/release/tools/kestro/kestro
#
# HASH (default sha256, kestro's default) is the digest both kestro backups compute; SIZE_MIB
# (default 1024) the volume size; OUT_DIR (default: beside the volumes) where the copies go.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
kestro="${1:-$root/build/release/tools/kestro/kestro}"
size_mib="${SIZE_MIB:-1024}"
runs="${RUNS:-7}"
hash="${HASH:-sha256}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestro-bench-XXXXXX")"
out_dir="$(mktemp -d "${OUT_DIR:-$work}/kestro-bench-out-XXXXXX")"
trap 'rm -rf "$work" "$out_dir"' EXIT

[ -x "$kestro" ] || { echo "no kestro at $kestro; build the release preset first" >&2; exit 1; }
for tool in partclone.fat32 ntfsclone mcopy ntfscp; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

# Ten files of random data, a tenth of the volume between them.
files=()
for i in $(seq 10); do
  head -c "$((size_mib * 1024 * 1024 / 100))" /dev/urandom >"$work/file$i.bin"
  files+=("$work/file$i.bin")
done

make_volume() {  # kind path
  head -c "${size_mib}M" /dev/urandom >"$2"
  if [ "$1" = FAT32 ]; then
    mkfs.fat -F 32 -n BENCH "$2" >/dev/null
    MTOOLS_SKIP_CHECK=1 mcopy -i "$2" "${files[@]}" ::/
  else
    mkntfs -F -f -Q -q -L BENCH "$2" >/dev/null 2>&1
    for file in "${files[@]}"; do ntfscp -q "$2" "$file" "$(basename "$file")"; done
  fi
}

# Seconds a command takes, the volume first dropped from the page cache and the copy removed.
seconds() {  # volume command...
  local volume="$1" start end
  shift
  rm -f "$out_dir"/out.img*
  dd if="$volume" iflag=nocache count=0 status=none
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

flushed() { "$@" && sync "$out_dir/out.img"; }

report() {  # label times-file
  printf '  %-44s %8.3f s\n' "$1" "$(median <"$2")"
}

ratio() {  # label numerator-file denominator-file
  printf '  %-44s %8.2fx\n' "$1" "$(paste "$2" "$3" | awk '{ print $1 / $2 }' | median)"
}

printf 'volumes: %s MiB, 10%% in files, random bytes elsewhere; kestro --hash %s; median of %s rounds\n' \
  "$size_mib" "$hash" "$runs"
for kind in FAT32 NTFS; do
  volume="$work/$kind.vol"
  make_volume "$kind" "$volume"
  if [ "$kind" = FAT32 ]; then
    other=(partclone.fat32 -c -s "$volume" -o "$out_dir/out.img")
    other_name="partclone.fat32 -c"
  else
    other=(ntfsclone -o "$out_dir/out.img" "$volume")
    other_name="ntfsclone -o"
  fi
  : >"$work/used" && : >"$work/full" && : >"$work/other"
  for _ in $(seq "$runs"); do
    seconds "$volume" "$kestro" backup "$volume" "$out_dir/out.img" -q --hash "$hash" \
      --used-only >>"$work/used"
    seconds "$volume" "$kestro" backup "$volume" "$out_dir/out.img" -q --hash "$hash" \
      >>"$work/full"
    seconds "$volume" flushed "${other[@]}" >>"$work/other"
  done
  echo "$kind:"
  report "kestro backup --used-only" "$work/used"
  report "kestro backup" "$work/full"
  report "$other_name" "$work/other"
  ratio "--used-only / full backup (goal <= 0.2x)" "$work/used" "$work/full"
  ratio "--used-only / $other_name (goal < 1x)" "$work/used" "$work/other"
  rm -f "$volume"
done
