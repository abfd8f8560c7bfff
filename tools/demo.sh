#!/bin/sh
# The demo: a sample upgrade sent by zentrop-cli to simulated bootloaders on pseudo-terminals
# at 115200 baud, then the pages each device kept compared with the file's:
#   tools/demo.sh BIN_DIR [DEVICES, default 1]
# ZENTROP_CLI names another build of zentrop-cli to run (the sanitizer run uses it).
set -eu

BIN=${1:?usage: tools/demo.sh BIN_DIR [DEVICES]}
DEVICES=${2:-1}
CLI=${ZENTROP_CLI:-$BIN/zentrop-cli}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zentrop-demo.XXXXXX")
SIMS=""

stop_simulators() {
    for sim in $SIMS; do
        kill "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    done
    SIMS=""
}

cleanup() {
    stop_simulators
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

FILE="$WORK/sample.upg"

echo "== A sample upgrade file: 16 Flash pages of 256 bytes, 8 EEProm pages of 32 bytes"
"$BIN/zentrop-upgtool" sample --flash-pages 16 --flash-page-size 256 \
    --eeprom-pages 8 --eeprom-page-size 32 "$FILE"
"$BIN/zentrop-cli" info "$FILE"

echo
echo "== The simulated bootloader (pages of 256 and 32 bytes, line paced at 115200 baud), $DEVICES of them"
PORTS=""
i=1
while [ "$i" -le "$DEVICES" ]; do
    "$BIN/zentrop-bootsim" --baud 115200 --flash-page-size 256 --eeprom-page-size 32 \
        --images "$WORK/received-$i.json" --exit-after-jump >"$WORK/sim-$i.out" 2>"$WORK/sim-$i.err" &
    sim=$!
    SIMS="$SIMS $sim"
    tries=0
    while [ ! -s "$WORK/sim-$i.out" ]; do
        if ! kill -0 "$sim" 2>/dev/null || [ "$tries" -ge 100 ]; then
            echo "FAIL: the simulator did not start" >&2
            cat "$WORK/sim-$i.err" >&2
            exit 1
        fi
        tries=$((tries + 1))
        sleep 0.05
    done
    port=$(head -n 1 "$WORK/sim-$i.out")
    echo "listening on $port"
    PORTS="$PORTS --port $port"
    i=$((i + 1))
done

echo
echo "== zentrop-cli flash$PORTS --mode both"
status=0
# shellcheck disable=SC2086
"$CLI" flash $PORTS --mode both "$FILE" || status=$?
echo "zentrop-cli exit status: $status"

# A simulator ends by itself after "J"; after a failed run it is told to end, and writes what
# it kept either way.
tries=0
for sim in $SIMS; do
    while kill -0 "$sim" 2>/dev/null && [ "$tries" -lt 40 ]; do
        tries=$((tries + 1))
        sleep 0.05
    done
done
stop_simulators

echo
echo "== What the devices received, compared with the file"
verdict=0
i=1
while [ "$i" -le "$DEVICES" ]; do
    "$BIN/zentrop-upgtool" verify --mode both "$FILE" "$WORK/received-$i.json" || verdict=$?
    i=$((i + 1))
done
if [ "$status" -ne 0 ] || [ "$verdict" -ne 0 ]; then
    exit 1
fi
