#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers) into build-bench/, runs them
# and prints one table: each case's time at 1 thread and at 2, its baseline
# (the plain build of the same definition) and the ratios to it, and its
# peer (OpenCV, vectorised Octave, a bare exp loop) and the ratio to that.
#
#   tools/bench.sh [--cpp] [--host] [--sweep] [--repetitions N] [--all] [--busy] [filter]
#
#   --cpp            the C++ benchmarks: bench/bench_<Name>.cpp (Google
#                    Benchmark), every kernel through its gateway and the
#                    host-free stand-in, against the plain loops and the peer
#   --host           through the host: bench/octave_timing.m in octave-cli,
#                    each plug-in against its plain build or vectorised
#                    Octave, each otk_ function against the raw plug-in;
#                    then bench/responses_timing.m and bench/detect_timing.m
#                    (the responses, learning and score maps against their
#                    interpreted routes and floors), tables of their own
#   --sweep          bench/sweep.m: cost per unit over map sizes
#                    With none of the three: --cpp and --host.
#   --repetitions N  rounds per case (default 1, a quick look of some 5
#                    minutes on 2 cores; take 3 or 5 for figures to quote:
#                    medians; the Octave scripts take 3 rounds at least).
#                    REPETITIONS=N does the same.
#   --all            also the C++ probe cases (thread thresholds, back-to-back
#                    loops, wake-ups), which print but are not in the table
#   --busy           runs beside two niced busy loops that hold the cores
#   filter           a regex for the C++ cases (--benchmark_filter)
#
# Everything a run writes goes to build-bench/results-<time>/: cpp.txt (the
# programs' own output, which tools/thread_ratios.py reads), cpp-<program>.json,
# host.tsv, sweep.tsv, and table.txt, the table printed at the end.
#
# An Octave script run by --host or --sweep finds the plug-ins
# (build-bench/mex) and the plain builds and probes (build-bench/bench-mex)
# on its path, and gets two variables: OTK_BENCH_OUT, a file
# to append its rows to, one a line, tab-separated: section, case, seconds
# per call at 1 thread, at 2, baseline name, baseline seconds, peer name,
# peer seconds (empty fields where there is none); and OTK_BENCH_ROUNDS.
set -euo pipefail
cd "$(dirname "$0")/.."

busy=0
all=0
filter=''
repetitions="${REPETITIONS:-1}"
want_cpp=0 want_host=0 want_sweep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --cpp) want_cpp=1 ;;
    --host) want_host=1 ;;
    --sweep) want_sweep=1 ;;
    --repetitions) repetitions="$2"; shift ;;
    --repetitions=*) repetitions="${1#*=}" ;;
    --all) all=1 ;;
    --busy) busy=1 ;;
    -h|--help) sed -n '2,35p' "$0"; exit 0 ;;
    -*) echo "tools/bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) filter="$1" ;;
  esac
  shift
done
if [ $((want_cpp + want_host + want_sweep)) = 0 ]; then
  want_cpp=1 want_host=1
fi
if [ "$want_sweep" = 1 ] && [ ! -f bench/sweep.m ]; then
  echo "tools/bench.sh: no bench/sweep.m" >&2
  exit 2
fi

bash tools/setup.sh bench
octave=OFF
[ $((want_host + want_sweep)) -gt 0 ] && octave=ON
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTOOLBOX_TESTS=OFF -DTOOLBOX_OCTAVE=$octave \
      -DTOOLBOX_BENCHMARKS=ON > /dev/null
# bench_warp_sizes.cpp gives one program per warp, over map sizes.
programs=$(cd bench && ls bench_*.cpp | sed 's/\.cpp$//; s/^bench_warp_sizes$/bench_sizes_Sabrel bench_sizes_Mundle/')
targets=()
[ "$want_cpp" = 1 ] && targets+=($programs)
[ "$octave" = ON ] && targets+=(octave_plugins bench_plugins)
cmake --build build-bench -j "$(nproc)" --target "${targets[@]}" > /dev/null

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

out="build-bench/results-$(date -u +%Y%m%dT%H%M%SZ)"
mkdir -p "$out"
{
  echo "# $(date -u) on $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
  echo "# load before the run: $(cut -d' ' -f1-3 /proc/loadavg); busy loops: $busy; repetitions: $repetitions"
} | tee "$out/cpp.txt"

if [ "$want_cpp" = 1 ]; then
  # The table's cases: each kernel at 1 thread and at all cores, its plain
  # baseline and its peer at 1 thread; the probes only with --all.
  if [ -z "$filter" ]; then
    filter='kernel_|plain_baseline|product_|opencv_warpAffine|/N:'
    [ "$all" = 1 ] && filter='.'
  fi
  flags=(--benchmark_filter="$filter" --benchmark_color=false)
  if [ "$repetitions" -gt 1 ]; then
    flags+=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true
            --benchmark_enable_random_interleaving=true)
  else
    flags+=(--benchmark_min_time=0.2)
  fi
  for t in $programs; do
    program="build-bench/bench/$t"
    [ -x "$program" ] || continue
    echo "## $t" | tee -a "$out/cpp.txt"
    env -u OTK_NUM_THREADS "$program" "${flags[@]}" --benchmark_out="$out/cpp-$t.json" \
        --benchmark_out_format=json 2>&1 | tee -a "$out/cpp.txt"
  done
fi

rounds=$repetitions
[ "$rounds" -lt 3 ] && rounds=3
# run_octave SCRIPT NAME [THREADS]: the plug-ins' own thread count unless
# THREADS is given.
run_octave() {
  echo "## $1" | tee -a "$out/cpp.txt"
  OTK_BENCH_OUT="$PWD/$out/$2.tsv" OTK_BENCH_ROUNDS=$rounds env -u OTK_NUM_THREADS ${3:+OTK_NUM_THREADS=$3} \
    octave-cli --norc --quiet --no-history --path build-bench/mex --path build-bench/bench-mex "$1" \
    2>&1 | tee -a "$out/$2.txt"
}
if [ "$want_host" = 1 ]; then
  run_octave bench/octave_timing.m host
  # The photograph-to-detection functions against their interpreted routes
  # and their floors: tables of their own, in the text output.
  run_octave bench/responses_timing.m responses
  # Once more with the host's arrays on 2 MB pages: the 268 MB result is
  # half the call on the 4 kB pages glibc gives by default.
  GLIBC_TUNABLES=glibc.malloc.hugetlb=1 run_octave bench/responses_timing.m responses-2mb
  run_octave bench/detect_timing.m detect
fi
# Results below 32 MB come from reused memory at every size, not as glibc's
# moving threshold happens to stand; one thread, whose processor time is
# the steadiest figure (bench/sweep.m).
[ "$want_sweep" = 1 ] && GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=268435456 run_octave bench/sweep.m sweep 1

echo
python3 tools/bench_table.py "$out" | tee "$out/table.txt"
echo "kept in $out/"
