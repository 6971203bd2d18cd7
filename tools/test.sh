#!/usr/bin/env bash
# Sets up, builds and runs every test: host-free unit tests under the
# sanitizers, the Octave tests against the built plug-ins and against the
# same plug-ins built with the sanitizers, and a short run of the fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
