#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers) into build-bench/ and runs
# every bench_* program with repetitions, printing medians.
#
#   tools/bench.sh [--busy] [filter]
#
#   filter   a Google Benchmark regex (--benchmark_filter), e.g. 'Porrith'
#   --busy   runs while two niced busy loops hold the cores, to show what
#            threads cost on a machine whose cores are taken
#
# Programs whose cases carry a threads: argument set the thread count per
# case (1, or 0 for all the cores the process may use) and run once; the
# others run once with OTK_NUM_THREADS=1 and once with all cores.
# REPETITIONS (default 5) sets the rounds per case. The output is also
# kept in build-bench/results-<time>.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

busy=0
filter='.'
for arg in "$@"; do
  case "$arg" in
    --busy) busy=1 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) filter="$arg" ;;
  esac
done
repetitions="${REPETITIONS:-5}"

bash tools/setup.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTOOLBOX_TESTS=OFF -DTOOLBOX_OCTAVE=OFF \
      -DTOOLBOX_BENCHMARKS=ON > /dev/null
targets=$(cd bench && ls bench_*.cpp | sed 's/\.cpp$//')
for t in $targets; do
  cmake --build build-bench -j 2 --target "$t" > /dev/null
done

loops=()
stop_loops() {
  for pid in "${loops[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${loops[@]}"; do wait "$pid" 2> /dev/null || true; done
  loops=()
}
trap stop_loops EXIT
if [ "$busy" = 1 ]; then
  for _ in 1 2; do
    nice -n 19 sh -c 'while :; do :; done' &
    loops+=("$!")
  done
fi

out="build-bench/results-$(date -u +%Y%m%dT%H%M%SZ).txt"
{
  echo "# $(date -u) on $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
  echo "# load before the run: $(cut -d' ' -f1-3 /proc/loadavg); busy loops: $busy; repetitions: $repetitions"
} | tee "$out"

flags=(--benchmark_filter="$filter" --benchmark_repetitions="$repetitions"
       --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true
       --benchmark_color=false)
for t in $targets; do
  program="build-bench/bench/$t"
  [ -x "$program" ] || continue
  cases=$("$program" --benchmark_list_tests --benchmark_filter="$filter" 2> /dev/null || true)
  [ -n "$cases" ] || continue
  if grep -q 'threads:' <<< "$cases"; then
    echo "## $t" | tee -a "$out"
    env -u OTK_NUM_THREADS "$program" "${flags[@]}" 2>&1 | tee -a "$out"
  else
    echo "## $t, OTK_NUM_THREADS=1" | tee -a "$out"
    OTK_NUM_THREADS=1 "$program" "${flags[@]}" 2>&1 | tee -a "$out"
    echo "## $t, all cores" | tee -a "$out"
    env -u OTK_NUM_THREADS "$program" "${flags[@]}" 2>&1 | tee -a "$out"
  fi
done
echo "kept in $out"
