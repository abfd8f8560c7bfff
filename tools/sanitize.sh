#!/bin/sh
# Builds with clang and runs the whole test suite under AddressSanitizer with
# UndefinedBehaviorSanitizer, then the port engine's and the framework's tests, the event
# thread's delivery to the terminal control, and the command line upgrading several devices
# at once under ThreadSanitizer, and each fuzz target for a short while. Exits non-zero on any
# report.
# Suppressions (tools/sanitize/) hold only reports from inside the uninstrumented Qt and
# system libraries.
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
SUPP=$PWD/tools/sanitize

configure() {
    CC=clang CXX=clang++ cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROP_SANITIZE="$2" >/dev/null
}

# The build runs some of our programs too (the sample language file), so the options hold
# for it as well. Allocation stacks are taken the slow way, through libraries built without
# frame pointers, so that a leak suppressed below is known to lie inside such a library.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$SUPP/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
configure build-asan address
cmake --build build-asan -j "$JOBS"
ctest --test-dir build-asan --output-on-failure -j "$JOBS"

TSAN_TESTS="base_tests cport_tests cport_pty_tests cportctl_delivery_tests"
configure build-tsan thread
# shellcheck disable=SC2086
for t in $TSAN_TESTS; do set -- "$@" --target "$t"; done
cmake --build build-tsan -j "$JOBS" "$@" --target zentrop-cli
export TSAN_OPTIONS="suppressions=$SUPP/tsan.supp halt_on_error=1 second_deadlock_stack=1"
ctest --test-dir build-tsan --output-on-failure -R "^($(echo $TSAN_TESTS | tr ' ' '|'))\$"
# The command line upgrading several simulated devices at once, a thread for each. The test
# programs cannot run it under ThreadSanitizer, whose runtime fails when they start a process.
ZENTROP_CLI=build-tsan/bin/zentrop-cli ./tools/demo.sh build-asan/bin 4
# Each libFuzzer target briefly (they are built with both sanitizers too), so that a fault a
# parser of outside input newly has shows in this pass as well; ./run.sh fuzz runs them long.
./tools/fuzz.sh 20000 60
