#!/bin/sh
# Builds the programs for the box (mipsel-linux-gnu) and their unit tests,
# which run here under qemu-user: assembles the mipsel libraries first.
#
#   scripts/build-mipsel.sh            (folder: build-mipsel, or $BUILD_MIPSEL)
set -eu
cd "$(dirname "$0")/.."
BUILD_MIPSEL=${BUILD_MIPSEL:-build-mipsel}
sh scripts/mipsel-sysroot.sh
cmake --no-warn-unused-cli -S . -B "$BUILD_MIPSEL" -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_MIPSEL" -j"$(nproc)"
