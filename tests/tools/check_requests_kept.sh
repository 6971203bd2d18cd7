#!/usr/bin/env bash
# Fails when a built plug-in lost the line requests its kernel makes ahead
# of its loads: g++ deletes loops of __builtin_prefetch as dead code, and
# nothing else shows it (the results are the same, only slower).
# Usage: check_requests_kept.sh FOLDER NAME... (NAME.mex in FOLDER).
set -euo pipefail
folder=$1
shift
bad=0
for name in "$@"; do
  f="$folder/$name.mex"
  if [ ! -f "$f" ]; then
    echo "no $f" >&2
    bad=1
    continue
  fi
  n=$(objdump -d --no-show-raw-insn "$f" | grep -c 'prefetch' || true)
  if [ "$n" -eq 0 ]; then
    echo "$f makes no line request" >&2
    bad=1
  else
    echo "$name: $n line requests"
  fi
done
exit $bad
