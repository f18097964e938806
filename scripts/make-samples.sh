#!/usr/bin/env bash
# Builds the sample disk that `kestro demo` and the end-to-end tests use: a small MBR disk image
# with a FAT32 partition and an NTFS partition, each holding a few files, compressed with xz into
# samples/sample-disk.img.xz.
#
# Layout (512-byte sectors):
#   partition 1  start 2048   size 73728 (36 MiB)  type 0c  FAT32, label KESTRO-FAT
#   partition 2  start 75776  size 24576 (12 MiB)  type 07  NTFS,  label KESTRO-NTFS
#   sectors 100352..102399 unused, disk 50 MiB
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/samples/sample-disk.img.xz}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fat_start=2048
fat_sectors=73728
ntfs_start=75776
ntfs_sectors=24576
disk_sectors=102400

# Deterministic contents: text that reads well in `kestro cat`, and numbered lines that fill
# several clusters.
write_files() {
  local dir="$1" fs="$2"
  printf 'This is the %s partition of the Kestro sample disk.\r\n' "$fs" >"$dir/README.TXT"
  printf 'Made by scripts/make-samples.sh with sfdisk, mkfs.fat and mkntfs.\r\n' >>"$dir/README.TXT"
  seq -f "%06g the quick brown fox jumps over the lazy dog" 1 3000 >"$dir/NUMBERS.TXT"
  awk 'BEGIN { x = 12345; for (i = 0; i < 32768; i++) { x = (x * 1103515245 + 12345) % 2147483648; printf "%c", 33 + int(x / 65536) % 94 } }' >"$dir/NOISE.BIN"
}

mkdir "$work/files"

# FAT32: one sector per cluster keeps 36 MiB above FAT32's minimum cluster count.
truncate -s $((fat_sectors * 512)) "$work/fat.img"
mkfs.fat -F 32 -s 1 -h "$fat_start" -i 4B455354 -n KESTRO-FAT --invariant "$work/fat.img" >/dev/null
write_files "$work/files" FAT32
export MTOOLS_SKIP_CHECK=1
mmd -i "$work/fat.img" ::/DOCS
mcopy -i "$work/fat.img" "$work/files/README.TXT" ::/
mcopy -i "$work/fat.img" "$work/files/NUMBERS.TXT" "$work/files/NOISE.BIN" ::/DOCS/

# NTFS: mkntfs leaves the partition's last sector for the backup boot sector.
truncate -s $((ntfs_sectors * 512)) "$work/ntfs.img"
mkntfs -F -f -q -T -s 512 -p "$ntfs_start" -H 255 -S 63 -L KESTRO-NTFS "$work/ntfs.img" 2>/dev/null
write_files "$work/files" NTFS
for name in README.TXT NUMBERS.TXT NOISE.BIN; do
  ntfscp -f -q "$work/ntfs.img" "$work/files/$name" "$name"
done

truncate -s $((disk_sectors * 512)) "$work/disk.img"
sfdisk --no-reread --no-tell-kernel -q "$work/disk.img" <<SFDISK
label: dos
label-id: 0x4b455354
start=$fat_start, size=$fat_sectors, type=c
start=$ntfs_start, size=$ntfs_sectors, type=7
SFDISK
dd if="$work/fat.img" of="$work/disk.img" bs=512 seek="$fat_start" conv=notrunc,sparse status=none
dd if="$work/ntfs.img" of="$work/disk.img" bs=512 seek="$ntfs_start" conv=notrunc,sparse status=none

mkdir -p "$(dirname "$out")"
xz -9 -T1 -c "$work/disk.img" >"$out"
echo "wrote $out ($(stat -c %s "$out") bytes)"
