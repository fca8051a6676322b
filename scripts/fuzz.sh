#!/bin/sh
# Fuzz targets: builds them with clang and libFuzzer (build-fuzz/) and runs
# each for a bounded time, default 45 seconds, over a copy of its committed
# corpus (tests/fuzz/corpus/<target>/), as many at once as there are cores.
#
#   sh scripts/fuzz.sh [SECONDS] [TARGET]...
#
# Any crash, leak, timeout or sanitizer report fails the run; the input is
# kept in build-fuzz/found/<target>/. Keep it as a regression case by copying
# it to tests/fuzz/corpus/<target>/case-<what> (the test suite replays every
# corpus file). Logs: build-fuzz/logs/<target>.log.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-45}
[ $# -gt 0 ] && shift
B=build-fuzz
CC=clang CXX=clang++ cmake -S tests/fuzz -B "$B" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B" -j"$(nproc)" >/dev/null
targets=${*:-$(sed -n 's/^set(QUILLON_FUZZ_TARGETS \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt)}
mkdir -p "$B/logs"

run_one() {
    t=$1
    rm -rf "$B/work/$t" "$B/found/$t"
    mkdir -p "$B/work/$t" "$B/found/$t"
    cp tests/fuzz/corpus/"$t"/* "$B/work/$t/"
    rc=0
    "$B/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$B/found/$t/" "$B/work/$t" >"$B/logs/$t.log" 2>&1 || rc=$?
    echo "$rc" >"$B/logs/$t.rc"
}

lanes=$(nproc)
running=0
for t in $targets; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$lanes" ]; then
        wait
        running=0
    fi
done
wait

failed=0
printf '%-10s %12s %8s %8s %s\n' target executions cov features result
for t in $targets; do
    rc=$(cat "$B/logs/$t.rc")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$B/logs/$t.log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$B/logs/$t.log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$B/logs/$t.log" | tail -n 1 | cut -d' ' -f2)
    result=ok
    if [ "$rc" != 0 ] || grep -q 'ERROR: \|runtime error\|check failed' "$B/logs/$t.log"; then
        result="FAILED (exit $rc): see $B/logs/$t.log and $B/found/$t/"
        failed=1
    fi
    printf '%-10s %12s %8s %8s %s\n' "$t" "${execs:--}" "${cov:--}" "${ft:--}" "$result"
done
exit $failed
