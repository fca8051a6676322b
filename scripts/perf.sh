#!/bin/sh
# The menu's performance figures, each with its ratio to its floor:
#   redraw (showpic + drawmenu, ten entries and seven texts) against clearing
#   one 720x576x16 frame and copying one full frame, in wall time and in
#   instructions (callgrind); start to first frame against libpng alone
#   decoding the background; peak resident memory against the packed picture
#   plus 4 MiB, and its growth over 10,000 redraws; the system calls of an
#   idle poll (strace over a 10-second wait); the stripped mipsel sizes.
# Needs root (the menu runs in a simulated box). Takes about a minute.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-bench}
REPS=${REPS:-5}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target menu_bench graphics_bench >/dev/null
BENCH="$BUILD/tests/benchmarks"

echo "== Wall time (medians of $REPS runs)"
"$BENCH/menu_bench" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true
echo
echo "== Per function, against one memcpy of a frame"
"$BENCH/graphics_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true |
    sed -n '/^Ratio/,$p'
echo
echo "== Instructions"
"$BENCH/menu_bench" --instructions
echo
echo "== Memory"
"$BENCH/menu_bench" --memory
echo
echo "== Waiting"
"$BENCH/menu_bench" --idle
echo
echo "== Size of the stripped mipsel programs"
if ! command -v mipsel-linux-gnu-g++ >/dev/null 2>&1; then
    echo "  not measured: no cross compiler (crossbuild-essential-mipsel)"
    exit 0
fi
sh scripts/mipsel-sysroot.sh
MIPSEL=${MIPSEL_BUILD:-build-mipsel-size}
cmake -S . -B "$MIPSEL" -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
    -DQUILLON_TESTS=OFF -DQUILLON_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$MIPSEL" -j"$(nproc)" --target bootinit quisel >/dev/null
for program in bootinit/bootinit menu/quisel; do
    stripped="$MIPSEL/$program.stripped"
    mipsel-linux-gnu-strip -o "$stripped" "$MIPSEL/$program"
    needed=$(mipsel-linux-gnu-readelf -d "$stripped" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')
    printf '  %-10s %8d bytes  needs: %s\n' "$(basename "$program")" "$(wc -c < "$stripped")" "$needed"
done
