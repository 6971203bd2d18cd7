#!/usr/bin/env bash
# Sets up, builds and runs every test: host-free unit tests under the
# sanitizers and the Octave tests against the built plug-ins.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
ctest --test-dir build --output-on-failure
