#!/bin/sh
# Builds the libFuzzer targets with clang and the address and undefined-behaviour sanitizers and
# runs each for a bounded time: tools/fuzz.sh [seconds per target]. Exits non-zero on a finding.
set -eu
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-60}
BUILD=build-fuzz
CORPUS=$BUILD/corpus

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DZENTROP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

# The INI target writes a file per run; keep that in memory when the machine offers it.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm

status=0
for target in fuzz_upgrade fuzz_commatext_ini; do
    mkdir -p "$CORPUS/$target"
    log=$BUILD/$target.log
    if ! "$BUILD/bin/$target" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        -artifact_prefix="$BUILD/$target-" "$CORPUS/$target" >"$log" 2>&1; then
        status=1
        echo "$target: FINDING, see $log" >&2
    fi
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$target: ${runs:-?} executions in ${SECONDS_PER_TARGET}s"
done
exit $status
