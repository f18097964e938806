#!/usr/bin/env bash
# Runs the host program on a fresh 8 KiB scratch file in a temporary folder and checks the mark
# it writes at offset 3072, so that a file-pointer move that went nowhere cannot pass, and the
# library's diagnostic line on its standard output, byte for byte with its "\r\n". Any command
# given after the host (env, an emulator) runs it. The host's exit code passes through.
#
#   run_host.sh <host> [command prefix...]
set -euo pipefail

host=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 8K "$work/scratch.bin"

status=0
(cd "$work" && "$@" "$host" "$work/scratch.bin") >"$work/output" || status=$?
cat "$work/output"
[ "$status" -eq 0 ] || exit "$status"

if ! grep -qF $'m_hDisk == (HANDLE) INVALID_HANDLE_VALUE ??\r' "$work/output" ||
  grep -qF $'??\r\r' "$work/output"; then
  echo "$host's output lacks the diagnostic line ending in one \\r\\n"
  exit 1
fi

mark=$(dd if="$work/scratch.bin" bs=1 skip=3072 count=6 status=none)
if [ "$mark" != KESTRO ]; then
  echo "$host did not write its mark at offset 3072 (found '$mark')"
  exit 1
fi
