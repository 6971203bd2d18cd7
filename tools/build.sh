#!/usr/bin/env bash
# Configures and builds the plug-ins (build/mex) and the test programs.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
