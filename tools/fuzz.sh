#!/usr/bin/env bash
# Runs the hostile-input fuzzer: tools/fuzz.sh [count] [seed] (the extreme
# probes of every integer-valued argument, then count random ones, default
# 3000, seed 1) against the sanitized plug-ins (build/mex-asan) when they
# are built, else against build/mex. Findings, as runnable .m files, go to
# build/fuzz-findings. Build first with tools/build.sh (or tools/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-3000}
seed=${2:-1}
runtime=()
mex_dir=build/mex
if [ -f build/mex-asan/Halvery.mex ]; then
  mex_dir=build/mex-asan
  runtime=(--asan-runtime "$(g++ -print-file-name=libasan.so)")
fi
if [ ! -d "$mex_dir" ]; then
  echo "fuzz.sh: no plug-ins in $mex_dir; run tools/build.sh first" >&2
  exit 2
fi
exec python3 tests/fuzz/fuzz.py --mex-dir "$mex_dir" --count "$count" --seed "$seed" \
  --out build/fuzz-findings "${runtime[@]}"
