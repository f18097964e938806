#!/usr/bin/env bash
# Loads and unloads a library with no object created, under strace, and fails if our libraries
# touched a file in between: no device, no drive image, no drive-map file, no control request.
# Drives are mapped through the environment and a drive-map file, so that a library that read its
# drive map or opened a drive at load would be seen doing it.
#
# Between the two markers the dynamic loader opens and maps the libraries, and the system
# libraries they need run their own initialisers (libmount's libselinux looks for its file
# system). strace's stack of each call tells those apart from a call made by one of our
# libraries (libkestro32, libshadrel, libkestroplat): any call outside the loader's own search
# whose stack passes through one of ours fails, and so does any call that reaches the drives.
#
#   check_load.sh <load_library program> <library>
#
# Exits 77 (skipped) when strace cannot trace here or cannot show stacks, or when the program
# does not run natively (a 32-bit build on a kernel without 32-bit support runs its programs
# through qemu, into which strace cannot see).
set -euo pipefail

program=$1 library=$2
ours='/lib(kestro32|shadrel|kestroplat)\.so'

if ! command -v strace >/dev/null || ! strace -f -o /dev/null true 2>/dev/null; then
  echo "strace cannot trace processes here (not installed, or ptrace is not permitted)"
  exit 77
fi
if ! strace -f -k -o /dev/null true 2>/dev/null; then
  echo "strace cannot show the stack of a call here (built without stack tracing)"
  exit 77
fi

usage_status=0
"$program" >/dev/null 2>&1 || usage_status=$?
if [ "$usage_status" -ne 2 ]; then
  echo "$program does not run natively here (exit status $usage_status)"
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
  strace -f -k -e trace=file,desc -o "$work/trace" "$program" "$library"

# One line per call between the markers: the call, a tab, and its stack frames.
awk '/"\/kestro-load-begin"/ { inside = 1; next }
     /"\/kestro-load-end"/ { inside = 0 }
     !inside { next }
     /^ > / { stack = stack " " $2; next }
     { if (call != "") print call "\t" stack; call = $0; stack = "" }
     END { if (call != "") print call "\t" stack }' "$work/trace" >"$work/between"
if ! grep -q . "$work/between"; then
  echo "the trace holds nothing between the markers"
  exit 1
fi

path_calls='open|openat|openat2|creat|access|faccessat2?|stat|lstat|newfstatat|statx|statfs'
path_calls+='|readlink|readlinkat|execve|execveat|truncate|mkdirat|mkdir|unlinkat|unlink'
path_calls+='|renameat2?|rename|chmod|fchmodat|chown|fchownat|utimensat|mknodat|mknod'

# The folders the loader took libraries from; failed probes under them are its own search.
loaded_dirs=$(cut -f1 "$work/between" |
  sed -nE 's/^[0-9]+ +openat?\((AT_FDCWD, )?"([^"]*\.so(\.[0-9]+)*)".*\) = [0-9]+$/\2/p' |
  xargs -r -n1 dirname | sort -u)

loader_path() {
  local path=$1 call=$2 dir
  [[ -z $path || $path == /etc/ld.so.cache || $path == /etc/ld.so.preload ]] && return 0
  [[ $path =~ \.so(\.[0-9]+)*$ ]] && return 0
  if [[ $call == *"= -1 ENOENT"* ]]; then
    for dir in $loaded_dirs; do [[ $path == "$dir"/* ]] && return 0; done
  fi
  return 1
}

faults=()
others=()
while IFS=$'\t' read -r call stack; do
  if [[ $call == *"$work"* ]]; then
    faults+=("$call")
  elif [[ $call =~ ^[0-9]+\ +ioctl\( ]] ||
    { [[ $call =~ ^[0-9]+\ +($path_calls)\(([A-Z_0-9]+,\ )?\"([^\"]*)\" ]] &&
      ! loader_path "${BASH_REMATCH[3]}" "$call"; }; then
    if [[ $stack =~ $ours ]]; then faults+=("$call"); else others+=("$call"); fi
  fi
done <"$work/between"

if [ ${#others[@]} -gt 0 ]; then
  echo "System libraries' own initialisers touched (allowed):"
  printf '  %s\n' "${others[@]}"
fi
if [ ${#faults[@]} -gt 0 ]; then
  echo "Loading and unloading $library made our libraries touch files:"
  printf '  %s\n' "${faults[@]}"
  exit 1
fi
echo "Loading and unloading $library made none of our libraries touch a file"
