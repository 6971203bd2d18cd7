#!/usr/bin/env bash
# Configures and builds the plug-ins (build/mex) and the test programs. The
# options are given every time: tools/demo.sh configures the same folder
# without tests and benchmarks, and CMake would keep that choice.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTOOLBOX_TESTS=ON -DTOOLBOX_BENCHMARKS=ON
cmake --build build -j "$(nproc)"
