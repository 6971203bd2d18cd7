#!/usr/bin/env bash
# Fails unless every plug-in in FOLDER was built for the array API named:
# interleaved (-R2018a: mxGetDoubles and the *_interleaved constructors,
# never mxGetPr, and the mark by which Octave hands the plug-in arrays of
# that API) or separate (-R2017b: none of those).
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
  mark=$(nm -D --defined-only "$f" | grep -c ' __mx_has_interleaved_complex__$' || true)
  case "$api" in
    interleaved) [ "$separate" -eq 0 ] && [ "$interleaved" -gt 0 ] && [ "$mark" -eq 1 ] || { echo "$f: not built for the interleaved API" >&2; bad=1; } ;;
    separate) [ "$interleaved" -eq 0 ] && [ "$mark" -eq 0 ] || { echo "$f: uses the interleaved API" >&2; bad=1; } ;;
    *) echo "usage: check_array_api.sh FOLDER interleaved|separate" >&2; exit 2 ;;
  esac
done
[ $bad -eq 0 ] && echo "${#plugins[@]} plug-ins in $folder, all built for the $api API"
exit $bad
