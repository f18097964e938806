#!/usr/bin/env bash
# Fails when the platform layer's shared library exports any of its POSIX internals.
#
#   check_no_internals.sh <nm> <libkestroplat.so>
set -euo pipefail

nm=$1 library=$2

exported=$("$nm" -DC --defined-only "$library")
if [ -z "$exported" ]; then
  echo "$library exports nothing: the check cannot tell"
  exit 1
fi
leaked=$(grep -F 'posix::' <<<"$exported" || true)
if [ -n "$leaked" ]; then
  echo "$library exports POSIX internals:"
  echo "$leaked" | sed 's/^/  /'
  exit 1
fi
echo "$library exports $(wc -l <<<"$exported") symbols, none of them POSIX internals"
