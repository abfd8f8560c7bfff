#!/bin/sh
# Runs the benchmarks: the upgrade against the simulated bootloader at 115200 baud.
set -eu
BIN=${1:?usage: tools/bench.sh BIN_DIR}
"$BIN/bench_upgrade"
echo
"$BIN/bench_upgrade" --eeprom-page-size 32
