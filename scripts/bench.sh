#!/bin/sh
# Benchmarks: builds them (optimised) and prints the drawing figures with
# their ratios to the floor, one memcpy of a 720x576x16 frame. Needs root
# (the framebuffer object runs in a simulated box). Extra arguments go to
# Google Benchmark, e.g. --benchmark_repetitions=5.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-bench}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target graphics_bench
"$BUILD/tests/benchmarks/graphics_bench" "$@"
