#!/usr/bin/env bash
# Loads and unloads a library with no object created, under strace, and fails if anything but the
# dynamic loader touched a file in between: no device, no drive image, no drive-map file, no
# control request. Drives are mapped through the environment and a drive-map file, so that a
# library that read its drive map or opened a drive at load would be seen doing it.
#
#   check_load.sh <load_library program> <library>
#
# Exits 77 (skipped) when strace cannot trace here.
set -euo pipefail

program=$1 library=$2

if ! command -v strace >/dev/null || ! strace -f -o /dev/null true 2>/dev/null; then
  echo "strace cannot trace processes here (not installed, or ptrace is not permitted)"
  exit 77
fi

if nm "$library" | grep -q '_GLOBAL__sub_I_'; then
  echo "$library has static initialisers of its own:"
  nm -C "$library" | grep '_GLOBAL__sub_I_'
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 1M "$work/c.img" "$work/d.img" "$work/disk0.img"
printf 'C=%s\n' "$work/c.img" >"$work/drives"

# LeakSanitizer cannot run under a tracer; the sanitizer build is checked for leaks elsewhere.
KESTRO_DRIVES_FILE="$work/drives" KESTRO_DRIVE_D="$work/d.img" \
  KESTRO_PHYSICALDRIVE0="$work/disk0.img" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
  strace -f -e trace=file,desc -o "$work/trace" "$program" "$library"

awk '/"\/kestro-load-begin"/ { inside = 1; next } /"\/kestro-load-end"/ { inside = 0 } inside' \
  "$work/trace" >"$work/between"
if ! grep -q . "$work/between"; then
  echo "the trace holds nothing between the markers"
  exit 1
fi

path_calls='open|openat|openat2|creat|access|faccessat2?|stat|lstat|newfstatat|statx|statfs'
path_calls+='|readlink|readlinkat|execve|execveat|truncate|mkdirat|mkdir|unlinkat|unlink'
path_calls+='|renameat2?|rename|chmod|fchmodat|chown|fchownat|utimensat|mknodat|mknod'

# The folders the loader took libraries from; failed probes under them are its own search.
loaded_dirs=$(sed -nE 's/^[0-9]+ +openat?\((AT_FDCWD, )?"([^"]*\.so(\.[0-9]+)*)".*\) = [0-9]+$/\2/p' \
  "$work/between" | xargs -r -n1 dirname | sort -u)

loader_path() {
  local path=$1 line=$2 dir
  [[ -z $path || $path == /etc/ld.so.cache || $path == /etc/ld.so.preload ]] && return 0
  [[ $path =~ \.so(\.[0-9]+)*$ ]] && return 0
  if [[ $line == *"= -1 ENOENT"* ]]; then
    for dir in $loaded_dirs; do [[ $path == "$dir"/* ]] && return 0; done
  fi
  return 1
}

faults=()
while IFS= read -r line; do
  if [[ $line == *"$work"* ]]; then
    faults+=("$line")
  elif [[ $line =~ ^[0-9]+\ +ioctl\( ]]; then
    faults+=("$line")
  elif [[ $line =~ ^[0-9]+\ +($path_calls)\(([A-Z_0-9]+,\ )?\"([^\"]*)\" ]]; then
    loader_path "${BASH_REMATCH[3]}" "$line" || faults+=("$line")
  fi
done <"$work/between"

if [ ${#faults[@]} -gt 0 ]; then
  echo "Loading and unloading $library touched more than the loader's files:"
  printf '  %s\n' "${faults[@]}"
  exit 1
fi
echo "Loading and unloading $library touched only the loader's files"
