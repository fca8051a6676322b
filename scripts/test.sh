#!/bin/sh
# All tests: installs what is missing, builds, and runs the whole suite: the
# native build's, then the box build's (mipsel, under qemu-user).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$(nproc)"
status=0
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" || status=1

# The box build: its unit tests run under qemu-user.
BUILD_MIPSEL=${BUILD_MIPSEL:-build-mipsel}
export BUILD_MIPSEL
sh scripts/build-mipsel.sh
ctest --test-dir "$BUILD_MIPSEL" --output-on-failure -j"$(nproc)" || status=1
exit $status
