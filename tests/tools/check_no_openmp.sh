#!/usr/bin/env bash
# Fails when a built plug-in needs an OpenMP runtime: MATLAB loads its own,
# and a second one in the same process is a known cause of crashed sessions.
# Usage: check_no_openmp.sh FOLDER (every *.mex in it).
set -euo pipefail
folder=$1
shopt -s nullglob
plugins=("$folder"/*.mex)
if [ ${#plugins[@]} -eq 0 ]; then
  echo "no plug-ins in $folder" >&2
  exit 1
fi
bad=0
for f in "${plugins[@]}"; do
  if readelf -d "$f" | grep -Eq 'NEEDED.*(gomp|iomp|omp)'; then
    echo "$f links an OpenMP runtime" >&2
    bad=1
  fi
  if nm -D --undefined-only "$f" | grep -Eq ' (GOMP_|omp_|__kmpc_)'; then
    echo "$f calls into an OpenMP runtime" >&2
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "${#plugins[@]} plug-ins, none needs OpenMP"
exit $bad
