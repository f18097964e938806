#!/usr/bin/env bash
# Makes a small FAT32 volume image, maps it as drive C: and runs the example host on it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
truncate -s 40M "$work/volume.img"
mkfs.fat -F 32 -n SAMPLE "$work/volume.img" >/dev/null
KESTRO_DRIVE_C="$work/volume.img" "$root/build/release/examples/show-volume" C
