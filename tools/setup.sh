#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, for one of two profiles:
#   bash tools/setup.sh demo   what the demo needs: the compiler, CMake,
#                              Octave with its development files, FFTW's
#                              (the oriented responses), and gnuplot with a
#                              font for the density plot
#   bash tools/setup.sh [test] all of that, and GoogleTest, Google
#                              Benchmark, Octave's parallel package,
#                              python3 (the fuzzer and the MATLAB syntax
#                              check), iproute2 (whose ip gives the
#                              cluster test its own loopback) and gcovr
#                              (tools/coverage.sh) for the tests and
#                              benchmarks (the default)
#   bash tools/setup.sh bench  the test profile and OpenCV, the peer the
#                              warp benchmarks compare against
set -euo pipefail
profile="${1:-test}"
packages=(cmake make g++ octave octave-dev libfftw3-dev gnuplot-nox fonts-freefont-otf)
case "$profile" in
  demo) ;;
  test) packages+=(libgtest-dev libbenchmark-dev octave-parallel python3 iproute2 gcovr) ;;
  bench) packages+=(libgtest-dev libbenchmark-dev octave-parallel python3 iproute2 gcovr libopencv-dev) ;;
  *) echo "usage: bash tools/setup.sh [demo|test|bench]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
