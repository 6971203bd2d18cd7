#!/usr/bin/env bash
# Line coverage of the two floors under the gateways, common/ and args/, by
# the host-free unit tests and the Octave tests (against the plug-ins of both
# array APIs, and the fuzzer's fixed probes):
#
#   bash tools/coverage.sh            build, run the tests, print the report
#   bash tools/coverage.sh --report   print the report of the last run again
#
# Builds everything with --coverage and without optimisation into its own
# folder, build-coverage/, apart from the Release build; the counts of a run
# are cleared first, so the report is that of this run alone. Prints per-file
# and total line coverage (gcovr) and keeps an annotated HTML copy in
# build-coverage/coverage/index.html. Slow: about 20 minutes on 2 cores.
# Needs gcovr (bash tools/setup.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-coverage
report_only=0
case "${1:-}" in
  --report) report_only=1 ;;
  -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
  "") ;;
  *) echo "usage: bash tools/coverage.sh [--report]" >&2; exit 2 ;;
esac

if [ "$report_only" = 0 ]; then
  command -v gcovr > /dev/null || bash tools/setup.sh
  # Sanitized plug-ins are left out (their own test set, and the sanitizer
  # runtime preloaded into the host would meet the coverage runtime); the
  # unit tests keep their sanitizers.
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Coverage -DCMAKE_CXX_FLAGS="-O0 -g --coverage -fprofile-update=atomic" \
        -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
        -DCMAKE_MODULE_LINKER_FLAGS=--coverage -DTOOLBOX_TESTS=ON -DTOOLBOX_BENCHMARKS=OFF \
        -DTOOLBOX_SANITIZED_PLUGINS=OFF > /dev/null
  # Absolute source paths in the notes files (a compiler cache rewriting
  # them relative to its base folder would leave gcov unable to find them);
  # atomic counters, as the kernels count from several threads at once.
  env -u CCACHE_BASEDIR cmake --build "$dir" -j "$(nproc)"
  find "$dir" -name '*.gcda' -delete
  ctest --test-dir "$dir" -R '^(unit_|octave_|r2017b_|fuzz$)' -j "$(nproc)" \
        --output-on-failure || echo "coverage: some tests failed (above); the report covers what ran" >&2
fi

# The interrupt check is also compiled as MATLAB builds it, against the
# stand-in (tests/standin/interrupt_matlab.cpp): its functions stand at
# other lines there, which gcovr cannot merge with the Octave build's, and
# that branch is the stand-in's to test, not the host's: left out.
find "$dir" -name 'interrupt_matlab.cpp.gc*' -delete

# The line after a host error that never returns (std::abort, for the
# compiler) cannot run: it is left out of the count.
mkdir -p "$dir/coverage"
gcovr --root . --object-directory "$dir" --filter 'common/' --filter 'args/' \
      --exclude-lines-by-pattern '.*std::abort\(\);.*does not return.*' --exclude-directories '.*/CMakeFiles/[0-9.]+' \
      --print-summary \
      --html-details "$dir/coverage/index.html" --txt - | sed '/^-*$/d'
echo "annotated sources: $dir/coverage/index.html"
