#!/bin/sh
# All tests: installs what is missing, builds, and runs the whole suite: the
# native build's, the same built with AddressSanitizer and
# UndefinedBehaviorSanitizer, every fuzz target for FUZZ_SECONDS (default
# 45) each, then the box build's (mipsel): its unit tests under qemu-user and
# the box simulator's tests on its programs.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The emulated box: Malta kernel, busybox, the remote-control module, the box build.
sh scripts/vm-prepare.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$(nproc)"
status=0
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" || status=1

# The sanitized build: any sanitizer report, in a test or in a box, fails.
BUILD_ASAN=${BUILD_ASAN:-build-asan}
cmake -S . -B "$BUILD_ASAN" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=ON
cmake --build "$BUILD_ASAN" -j"$(nproc)"
ctest --test-dir "$BUILD_ASAN" --output-on-failure -j"$(nproc)" || status=1

# Fuzzing: any crash, leak or sanitizer report fails.
sh scripts/fuzz.sh "${FUZZ_SECONDS:-45}" || status=1

# The box build: its unit tests run under qemu-user.
BUILD_MIPSEL=${BUILD_MIPSEL:-build-mipsel}
export BUILD_MIPSEL
sh scripts/build-mipsel.sh
ctest --test-dir "$BUILD_MIPSEL" --output-on-failure -j"$(nproc)" || status=1

# The box tests on the box build's programs: a host build of the simulator
# whose boxes run the mipsel bootinit, quisel, drivers and preloaded library
# through qemu-user.
BUILD_BOXTEST=${BUILD_BOXTEST:-build-boxtest}
cmake -S . -B "$BUILD_BOXTEST" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TARGET_BUILD="$BUILD_MIPSEL"
cmake --build "$BUILD_BOXTEST" -j"$(nproc)"
ctest --test-dir "$BUILD_BOXTEST" --output-on-failure -j"$(nproc)" || status=1
exit $status
