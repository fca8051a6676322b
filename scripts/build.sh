#!/bin/sh
# Installs what is missing and builds the native tree in $BUILD (default
# "build"), quietly: what the demo and the documentation run on.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
BUILD=${BUILD:-build}
echo "building in $BUILD ..." >&2
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
