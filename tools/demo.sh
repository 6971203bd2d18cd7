#!/usr/bin/env bash
# Sets up what the demo needs, builds only the plug-ins (no tests, no
# benchmarks) and runs the demo in Octave; report.html, the pictures and
# summary.txt go to out/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTOOLBOX_TESTS=OFF -DTOOLBOX_BENCHMARKS=OFF > /dev/null
cmake --build build --target octave_plugins -j "$(nproc)"
# octave-cli reports a harmless "ignoring const execution_exception" at exit.
octave-cli --norc --quiet --path build/mex --path demo \
  --eval "toolbox_demo(fullfile(pwd, 'out', 'demo'));" \
  2> >(grep -v 'ignoring const execution_exception' >&2)
echo "Open out/demo/report.html to see what each step did."
