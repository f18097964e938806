#!/usr/bin/env bash
# Installs everything Kestro needs to build and test on Debian 12. Run as root (or with sudo).
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive

# 32-bit libraries for the i686 build come from Debian's multiarch.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q

packages=(
  # Build
  build-essential cmake pkg-config g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libblkid-dev libmount-dev libblkid-dev:i386 libmount-dev:i386
  libcli11-dev nlohmann-json3-dev libssl-dev libxxhash-dev liblzma-dev libzstd-dev zstd xz-utils
  # Fixtures: real file systems, partition tables and loop devices
  dosfstools ntfs-3g mtools fdisk e2fsprogs util-linux xfsprogs btrfs-progs
  # LVM snapshots, where the machine has device-mapper
  lvm2
  # Tools the tests drive
  strace binutils
  # What the benchmarks compare against
  partclone
  # The format and lint checks
  clang-format clang-tidy python3
  # The fuzzers: clang with libFuzzer and its sanitizer runtimes
  clang libclang-rt-14-dev
  # Runs the i686 build's programs on machines whose kernel executes 64-bit code only
  qemu-user
)
apt-get install -y -q --no-install-recommends "${packages[@]}"

# Wine runs the Windows build's tests; wine32 is what runs 32-bit programs.
apt-get install -y -q --no-install-recommends wine wine64 wine32:i386
