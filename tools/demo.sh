#!/usr/bin/env bash
# Sets up, builds and runs the demo pipeline in Octave; pictures and the
# summary go to out/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
# octave-cli reports a harmless "ignoring const execution_exception" at exit.
octave-cli --norc --quiet --path build/mex --path demo \
  --eval "toolbox_demo(fullfile(pwd, 'out', 'demo'));" \
  2> >(grep -v 'ignoring const execution_exception' >&2)
