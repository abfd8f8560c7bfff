#!/bin/sh
# Builds the libFuzzer targets with clang and the address and undefined-behaviour sanitizers and
# runs each for a number of executions, within a time cap:
#   tools/fuzz.sh [executions per target, default 1000000] [seconds cap per target, default 1800]
# Exits non-zero on a finding.
set -eu
cd "$(dirname "$0")/.."

RUNS=${1:-1000000}
CAP=${2:-1800}
BUILD=build-fuzz
CORPUS=$BUILD/corpus

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DZENTROP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

# The INI target writes a file per run; keep that in memory when the machine offers it.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm

status=0
# Settings lines and file lists are short, and so are escape sequences; longer inputs only
# slow those targets down.
for target in fuzz_upgrade:4096 fuzz_hex:4096 fuzz_commatext_ini:1024 fuzz_terminal:1024 fuzz_lcf:4096 fuzz_rfc2217:4096; do
    maxlen=${target#*:}
    target=${target%:*}
    mkdir -p "$CORPUS/$target"
    # Real files to start from, where the repository has some.
    seeds=""
    [ -d "fuzz/seeds/$target" ] && seeds="fuzz/seeds/$target"
    log=$BUILD/$target.log
    dict=
    [ -f "fuzz/$target.dict" ] && dict=-dict=fuzz/$target.dict
    start=$(date +%s)
    if ! "$BUILD/bin/$target" -runs="$RUNS" -max_total_time="$CAP" -max_len="$maxlen" -print_final_stats=1 $dict \
        -artifact_prefix="$BUILD/$target-" "$CORPUS/$target" $seeds >"$log" 2>&1; then
        status=1
        echo "$target: FINDING, see $log" >&2
    fi
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$target: ${runs:-?} executions in $(( $(date +%s) - start ))s"
done
exit $status
