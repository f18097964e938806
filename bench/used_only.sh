#!/usr/bin/env bash
# Times `kestro backup --used-only` against the full `kestro backup`, and against partclone.fat32
# (FAT32), ntfsclone (NTFS) and partclone.extfs (ext4), on 1 GiB volumes made the way real disks are: random bytes left by
# earlier use, then mkfs, then about 10% of the volume in files. Each round runs every program once,
# in turn, on a volume evicted from the page cache (so every program reads it from the disk, as a
# backup does); each copy is flushed before the clock stops. Prints the median time of each
# program over RUNS (default 7) rounds and the median of the per-round ratios.
#
# As root it then times copying a file of a tenth of the volume out of a seekable zstd image of an
# ext4 volume that holds it (`kestro mount`, a read-only loop mount, `cp`) against `zstd -dc` of
# as much of the image.
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
for tool in partclone.fat32 ntfsclone partclone.extfs mcopy ntfscp mkfs.ext4; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

# Ten files of random data, a tenth of the volume between them.
files=()
mkdir "$work/files"
for i in $(seq 10); do
  head -c "$((size_mib * 1024 * 1024 / 100))" /dev/urandom >"$work/files/file$i.bin"
  files+=("$work/files/file$i.bin")
done

make_volume() {  # kind path
  head -c "${size_mib}M" /dev/urandom >"$2"
  if [ "$1" = FAT32 ]; then
    mkfs.fat -F 32 -n BENCH "$2" >/dev/null
    MTOOLS_SKIP_CHECK=1 mcopy -i "$2" "${files[@]}" ::/
  elif [ "$1" = ext4 ]; then
    mkfs.ext4 -q -F -d "$work/files" "$2"
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
for kind in FAT32 NTFS ext4; do
  volume="$work/$kind.vol"
  make_volume "$kind" "$volume"
  if [ "$kind" = FAT32 ]; then
    other=(partclone.fat32 -c -s "$volume" -o "$out_dir/out.img")
    other_name="partclone.fat32 -c"
  elif [ "$kind" = ext4 ]; then
    other=(partclone.extfs -c -s "$volume" -o "$out_dir/out.img")
    other_name="partclone.extfs -c"
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

[ "$(id -u)" = 0 ] || { echo "mount rows skipped: they need root"; exit 0; }
mkdir "$work/big" "$work/fuse" "$work/loop"
head -c "$((size_mib * 1024 * 1024 / 10))" /dev/urandom >"$work/big/file1.bin"
head -c "${size_mib}M" /dev/urandom >"$work/mount.vol"
mkfs.ext4 -q -F -d "$work/big" "$work/mount.vol"
image="$work/mount.img.zst"
"$kestro" backup "$work/mount.vol" "$image" -q --hash none --compress zstd
trap 'umount "$work/loop" 2>/dev/null; fusermount3 -u "$work/fuse" 2>/dev/null; rm -rf "$work" "$out_dir"' EXIT
copy_out() {
  "$kestro" mount "$image" "$work/fuse"
  mount -o loop,ro "$work/fuse/volume" "$work/loop"
  cp "$work/loop/file1.bin" "$out_dir/out.img"
  umount "$work/loop"
  fusermount3 -u "$work/fuse"
}
decode_as_much() {
  zstd -dc "$image" | head -c "$((size_mib * 1024 * 1024 / 10))" >"$out_dir/out.img" || true
}
: >"$work/mount" && : >"$work/decode"
for _ in $(seq "$runs"); do
  seconds "$image" flushed copy_out >>"$work/mount"
  seconds "$image" flushed decode_as_much >>"$work/decode"
done
echo "ext4, seekable zstd image:"
report "kestro mount + loop mount + cp of a file" "$work/mount"
report "zstd -dc of as much image" "$work/decode"
ratio "mount and copy / zstd -dc (goal <= 2x)" "$work/mount" "$work/decode"
