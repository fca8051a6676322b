#!/bin/sh
# All tests: installs what is missing, builds, and runs the whole suite.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"
