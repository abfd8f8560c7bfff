#!/bin/sh
# Runs the benchmarks: the port's read time-out and one-byte round trip on a pseudo-terminal,
# event delivery (latency to OnRxData, sustained rate and its CPU, idle CPU, Close while
# bytes keep arriving),
# then the upgrade against the simulated bootloader at 115200 and 1,000,000 baud with its system
# calls per byte, then the terminal's
# parse-and-buffer throughput, then the language file reader on a file of about 1 MB, the
# command line upgrading eight simulated devices at once against one, the upgrade directly
# and through ser2net side by side, the terminal window's received text to pixels, and
# zentrop-term from the device's bytes to the screen.
set -eu
BIN=${1:?usage: tools/bench.sh BIN_DIR}
"$BIN/bench_port"
echo
"$BIN/bench_events"
echo
"$BIN/bench_upgrade"
echo
"$BIN/bench_upgrade" --eeprom-page-size 32
echo
"$BIN/bench_upgrade" --baud 1000000
echo
"$BIN/bench_terminal"
echo
"$BIN/bench_lcf"
echo
"$BIN/bench_multi"
echo
"$BIN/bench_netport" --rounds 2
echo
# The window needs a display: a virtual one, which the set-up script installs when it is missing.
"$(dirname "$0")/setup.sh" screens
xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN/bench_termwindow"
echo
xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN/bench_termapp"
