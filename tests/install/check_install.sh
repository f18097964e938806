#!/usr/bin/env bash
# Installs a build into a temporary prefix, then builds the host program in tests/host against
# the installed tree twice, once through pkg-config and once through find_package(Kestro32), and
# runs both. The libraries must carry versioned sonames and the headers must resolve from the
# one include directory.
#
#   check_install.sh <build-dir> <c++ compiler> "<compile and link flags>" [runner...]
#
# The flags are those the libraries were built with that a host must share (-m32, sanitizers);
# the runner, if any, runs the hosts (qemu-i386 where 32-bit programs do not run natively).
set -euo pipefail

build=$1 compiler=$2 flags=$3
shift 3
runner=("$@")
host_source=$(cd "$(dirname "$0")/../host" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

pc_file=$(find "$prefix" -name kestro32.pc)
[ -n "$pc_file" ] || { echo "no kestro32.pc installed"; exit 1; }
libdir=$(dirname "$(dirname "$pc_file")")
for library in kestro32 shadrel kestroplat; do
  soname=$(readelf -d "$libdir/lib$library.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  if [[ ! $soname =~ ^lib$library\.so\.[0-9]+$ ]] || [ ! -e "$libdir/$soname" ]; then
    echo "lib$library.so has no versioned soname (soname '$soname')"
    exit 1
  fi
done
[ -f "$prefix/include/kestro32/win32/windows.h" ] || { echo "platform headers missing"; exit 1; }
[ ! -e "$prefix/include/kestro32/win32/volume_storage.h" ] ||
  { echo "the requester's internal header volume_storage.h is installed"; exit 1; }

read -r -a host_flags <<<"$flags"

# Through pkg-config.
export PKG_CONFIG_PATH=$(dirname "$pc_file")
read -r -a pc_cflags <<<"$(pkg-config --cflags kestro32)"
read -r -a pc_libs <<<"$(pkg-config --libs kestro32)"
"$compiler" -std=c++17 "${host_flags[@]}" "${pc_cflags[@]}" "$host_source/host.cpp" \
  -o "$work/host-pkg-config" "${pc_libs[@]}"

# Through the CMake package.
cmake -S "$host_source" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/host-build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }

# The pkg-config host finds the libraries through the loader's path; the CMake one through the
# run path CMake gives it.
run_host=$(dirname "$0")/../host/run_host.sh
"$run_host" "$work/host-pkg-config" env -u LD_LIBRARY_PATH LD_LIBRARY_PATH="$libdir" "${runner[@]}"
"$run_host" "$work/host-build/kestro-host" env -u LD_LIBRARY_PATH "${runner[@]}"
echo "installed tree works through pkg-config and find_package"
