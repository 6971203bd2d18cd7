#!/usr/bin/env bash
# Sets up, builds and runs the demo pipeline in Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
octave-cli --norc --quiet --path build/mex --path demo --eval "toolbox_demo(fullfile(pwd, 'out', 'demo'));"
