#!/usr/bin/env bash
# Times kestro on a block device read cold, against the standard tools doing the same work on the
# same device, and prints the median time of each, the ratio kestro/tool (lower is better; the
# goal column is the ratio kestro aims at) and how much the page cache grew.
#
# The device is a loop device over SIZE_MIB (default 2048) random bytes in a file in /dev/shm: a
# fast device, so that what is timed is the programs, not the medium. Caches are dropped before
# every run; the commands of a row alternate, RUNS times each (default 5), so that a change in
# the machine's load falls on all of them; output goes to /dev/null. With --disk the read rows
# run again on a loop device with --direct-io=on over a file in DISK_DIR (default /var/tmp).
# Needs root.
#
#   bench/device.sh [--disk] [KESTRO]     KESTRO defaults to build/release/tools/kestro/kestro
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
disk_too=""
if [ "${1:-}" = "--disk" ]; then
  disk_too=1
  shift
fi
kestro="${1:-$root/build/release/tools/kestro/kestro}"
size_mib="${SIZE_MIB:-2048}"
runs="${RUNS:-5}"
shm="$(mktemp -d /dev/shm/kestro-device-XXXXXX)"
disk_dir=""
loops=()
cleanup() {
  for loop in "${loops[@]}"; do losetup -d "$loop"; done
  rm -rf "$shm" ${disk_dir:+"$disk_dir"}
}
trap cleanup EXIT

[ "$(id -u)" = 0 ] || { echo "bench/device.sh needs root (loop devices, drop_caches)" >&2; exit 1; }
[ -x "$kestro" ] || { echo "no kestro at $kestro; build the release preset first" >&2; exit 1; }
for tool in dd fio openssl losetup; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

attach() {
  local loop
  loop=$(losetup -f --show "$@")
  loops+=("$loop")
  echo "$loop"
}

backing="$shm/device.img"
head -c "${size_mib}M" /dev/urandom >"$backing"
device=$(attach "$backing")

drop_caches() {
  sync
  echo 3 >/proc/sys/vm/drop_caches
}

# Seconds one command takes, its output discarded.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", e - s }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# timed NAME COMMAND...: appends one run's seconds to the list named NAME.
declare -A timings
timed() {
  local name=$1
  shift
  drop_caches
  timings[$name]+="$(seconds "$@") "
}
median_of() { printf '%s\n' ${timings[$1]} | median; }

print_row() {
  awk -v n="$1" -v k="$2" -v t="$3" -v g="$4" \
    'BEGIN { printf "| %-62s | %7.2f s | %7.2f s | %5.2fx | <= %-4s |\n", n, k, t, k / t, g }'
}

kestro_none() { "$kestro" backup "$1" - -q --hash none; }
kestro_sha() { "$kestro" backup "$1" - -q; }
dd_direct() { dd if="$1" of=/dev/null bs=1M iflag=direct status=none; }
fio_direct() {
  fio --name=read --filename="$1" --rw=read --bs=1M --direct=1 --ioengine=libaio --iodepth=16 \
    --readonly --output=/dev/null
}
sha_alone() { openssl dgst -sha256 "$backing"; }

# The reads of DEVICE, each command in turn, RUNS times; rows labelled with LABEL.
read_rows() {
  local dev=$1 label=$2
  timings=()
  for _ in $(seq "$runs"); do
    timed none kestro_none "$dev"
    timed dd dd_direct "$dev"
    timed fio fio_direct "$dev"
    timed sha kestro_sha "$dev"
    timed openssl sha_alone
  done
  local none dd fio sha openssl slowest
  none=$(median_of none) dd=$(median_of dd) fio=$(median_of fio)
  sha=$(median_of sha) openssl=$(median_of openssl)
  slowest=$(awk -v a="$fio" -v b="$openssl" 'BEGIN { print (a > b) ? a : b }')
  print_row "backup - --hash none vs dd iflag=direct bs=1M$label" "$none" "$dd" 1.0
  print_row "backup - --hash none vs fio libaio iodepth=16$label" "$none" "$fio" 1.15
  print_row "backup - (sha256) vs max(fio, openssl dgst -sha256)$label" "$sha" "$slowest" 1.1
}

# Peak growth, in MiB, of the /proc/meminfo fields that FIELDS (a regex) names while a command
# runs on a cold cache. A block device's pages count as Buffers; other programs' files as Cached.
meminfo_kib() { awk -v f="^($1):" '$0 ~ f { s += $2 } END { print s }' /proc/meminfo; }
cache_growth() {
  local fields=$1
  shift
  drop_caches
  local before peak_file sampler
  before=$(meminfo_kib "$fields")
  peak_file="$shm/peak"
  echo "$before" >"$peak_file"
  (
    peak=$before
    while :; do
      now=$(meminfo_kib "$fields")
      [ "$now" -gt "$peak" ] && peak=$now && echo "$peak" >"$peak_file"
      sleep 0.05
    done
  ) &
  sampler=$!
  "$@" >/dev/null 2>&1
  kill "$sampler"
  wait "$sampler" 2>/dev/null || true
  echo $((($(cat "$peak_file") - before) / 1024))
}

restore_kestro() { "$kestro" restore "$image" "$device" -q --hash xxh128; }
restore_dd() {
  dd if="$image" of="$device" bs=1M oflag=direct status=none
  dd if="$device" of=/dev/null bs=1M iflag=direct status=none
}
copy_kestro() { "$kestro" backup "$backing" "$shm/copy.img" -q --hash none; }
copy_dd() { dd if="$backing" of="$shm/copy.img" bs=1M conv=sparse,fsync status=none; }

printf 'device: loop over %s MiB of random bytes in /dev/shm; caches dropped before each run;\n' \
  "$size_mib"
printf 'median of %s alternating runs each; load average %s\n\n' "$runs" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '| %-62s | %9s | %9s | %6s | %7s |\n' "kestro vs tool, ${size_mib} MiB device, cold" kestro tool \
  ratio goal
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..64})" ----------- ----------- -------- ---------
read_rows "$device" ""

image="$shm/restore.img"
"$kestro" backup "$device" "$image" -q --hash xxh128 >/dev/null
timings=()
for _ in $(seq "$runs"); do
  timed kestro restore_kestro
  timed dd restore_dd
done
print_row "restore (xxh128: check, write, read back) vs dd oflag+iflag=direct" \
  "$(median_of kestro)" "$(median_of dd)" 1.3
rm -f "$image" "$image".*

timings=()
for _ in $(seq "$runs"); do
  rm -f "$shm"/copy.img*
  cat "$backing" >/dev/null
  timings[kestro]+="$(seconds copy_kestro) "
  rm -f "$shm"/copy.img*
  timings[dd]+="$(seconds copy_dd) "
done
rm -f "$shm"/copy.img*
print_row "backup of an image file in the page cache vs dd conv=sparse" \
  "$(median_of kestro)" "$(median_of dd)" 1.0

if [ -n "$disk_too" ]; then
  disk_dir="$(mktemp -d "${DISK_DIR:-/var/tmp}/kestro-device-XXXXXX")"
  cp "$backing" "$disk_dir/device.img"
  read_rows "$(attach --direct-io=on "$disk_dir/device.img")" " (disk, loop direct-io)"
fi

dd_buffered() { dd if="$1" of=/dev/null bs=1M status=none; }
printf '\npage-cache growth while reading the device (goal <= 64 MiB):\n'
for fields in 'Buffers|Cached' Buffers; do
  printf '  %-16s kestro backup %5s MiB, dd bs=1M through the cache %5s MiB\n' "${fields/|/ + }" \
    "$(cache_growth "$fields" kestro_none "$device")" "$(cache_growth "$fields" dd_buffered "$device")"
done
