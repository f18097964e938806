#!/usr/bin/env bash
# Installs what Kestro needs on Debian 12. Run as root (or with sudo).
#
#   scripts/setup-debian.sh         build the library and `kestro`, run the demo and the tests
#   scripts/setup-debian.sh --all   also everything CI runs: 32-bit and Windows builds, Wine,
#                                   fuzzers, lint, benchmark peers, LVM, restic
#
# A package index that cannot be read does not stop the set-up: the install that follows
# decides. With --all, the 32-bit (i386) packages are installed last and may fail on their own;
# the file named by KESTRO_I386_REPORT (if set) then receives the reason in one line, and the
# script still succeeds. Every other package must install.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

profile=default
case ${1:-} in
  "") ;;
  --all) profile=all ;;
  *) echo "usage: setup-debian.sh [--all]" >&2; exit 2 ;;
esac

export DEBIAN_FRONTEND=noninteractive

# Build: the native toolchain and the libraries the library and `kestro` link.
build=(
  build-essential cmake pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
  libblkid-dev libmount-dev libcli11-dev nlohmann-json3-dev libssl-dev libxxhash-dev
  liblzma-dev libzstd-dev zstd xz-utils libfuse3-dev fuse3 libext2fs-dev
)
# Fixtures: real file systems, partition tables and loop devices for the test suites.
fixtures=(dosfstools ntfs-3g mtools fdisk e2fsprogs util-linux xfsprogs btrfs-progs)
# Tools the tests drive: kill points (strace) and the installed-symbol checks (binutils).
test_tools=(strace binutils)

# Windows builds: MinGW-w64 cross compilers and the 64-bit Wine that runs their tests.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine64)
# Fuzzers: clang with libFuzzer and its sanitizer runtimes.
fuzzers=(clang libclang-rt-14-dev)
# Lint: the format and clang-tidy checks.
lint=(clang-format clang-tidy python3)
# Peers the benchmarks and end-to-end recipes compare against or drive.
peers=(partclone fio restic)
# LVM snapshots, where the machine has device-mapper.
lvm=(lvm2)
# 32-bit builds: the multilib compiler, and qemu for kernels that execute 64-bit code only.
multilib=(g++-multilib qemu-user)
# From the i386 architecture: the libraries the i686 build links, and the Wine that runs 32-bit
# Windows programs.
i386=(libblkid-dev:i386 libmount-dev:i386 wine32:i386)

# One unreadable index (often a foreign architecture's, mid-sync on the mirror) must not stop
# the set-up: retry a few times, then name what failed and let the install decide.
update_package_index() {
  local log attempt failed=""
  log=$(mktemp)
  for attempt in 1 2 3; do
    if apt-get update -q -o DPkg::Lock::Timeout=300 >"$log" 2>&1 && ! grep -q '^[WE]: Failed to fetch' "$log"; then
      rm -f "$log"
      return 0
    fi
    failed=$(grep -oE '^[WE]: Failed to fetch [^ ]+' "$log" | sed 's/.*Failed to fetch //' | tr '\n' ' ' | sed 's/ $//')
    [ "$attempt" -lt 3 ] && sleep 5
  done
  echo "setup-debian: package indexes not read after 3 tries, going on: ${failed:-$(tail -n 1 "$log")}"
  rm -f "$log"
}

install() {
  apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$@"
}

if [ "$profile" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
update_package_index

if [ "$profile" = default ]; then
  install "${build[@]}" "${fixtures[@]}" "${test_tools[@]}"
  exit 0
fi

install "${build[@]}" "${fixtures[@]}" "${test_tools[@]}" "${windows[@]}" "${fuzzers[@]}" \
  "${lint[@]}" "${peers[@]}" "${lvm[@]}" "${multilib[@]}"

# The i386 packages go last and alone, so that when their index is stale only they are missing.
i386_log=$(mktemp)
if ! install "${i386[@]}" >"$i386_log" 2>&1; then
  cat "$i386_log"
  detail=$(grep -m 1 -E "Depends:|^E: " "$i386_log" | sed 's/^ *//')
  reason="the i386 packages could not be installed (${detail:-apt-get failed})"
  echo "setup-debian: $reason"
  [ -z "${KESTRO_I386_REPORT:-}" ] || echo "$reason" >"$KESTRO_I386_REPORT"
else
  cat "$i386_log"
fi
rm -f "$i386_log"
