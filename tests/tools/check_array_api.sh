#!/usr/bin/env bash
# Fails unless every plug-in in FOLDER was built for the array API named:
# interleaved (-R2018a: mxGetDoubles and the *_interleaved constructors,
# never mxGetPr) or separate (-R2017b: neither of those).
# Usage: check_array_api.sh FOLDER interleaved|separate
set -euo pipefail
folder=$1
api=$2
shopt -s nullglob
plugins=("$folder"/*.mex)
if [ ${#plugins[@]} -eq 0 ]; then
  echo "no plug-ins in $folder" >&2
  exit 1
fi
bad=0
for f in "${plugins[@]}"; do
  symbols=$(nm -D --undefined-only "$f")
  interleaved=$(grep -Ec ' (mxGetDoubles|mx[A-Za-z]+_interleaved)$' <<<"$symbols" || true)
  separate=$(grep -Ec ' mxGetPr$' <<<"$symbols" || true)
  case "$api" in
    interleaved) [ "$separate" -eq 0 ] && [ "$interleaved" -gt 0 ] || { echo "$f: not built for the interleaved API" >&2; bad=1; } ;;
    separate) [ "$interleaved" -eq 0 ] || { echo "$f: uses the interleaved API" >&2; bad=1; } ;;
    *) echo "usage: check_array_api.sh FOLDER interleaved|separate" >&2; exit 2 ;;
  esac
done
[ $bad -eq 0 ] && echo "${#plugins[@]} plug-ins in $folder, all built for the $api API"
exit $bad
