#!/bin/sh
# The demo: a sample upgrade sent by zentrop-cli to the simulated bootloader on a
# pseudo-terminal at 115200 baud, then the pages the device kept compared with the file's.
set -eu

BIN=${1:?usage: tools/demo.sh BIN_DIR}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zentrop-demo.XXXXXX")
SIM=""

cleanup() {
    if [ -n "$SIM" ] && kill -0 "$SIM" 2>/dev/null; then
        kill "$SIM" 2>/dev/null || true
        wait "$SIM" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

FILE="$WORK/sample.upg"
RECORD="$WORK/received.json"

echo "== A sample upgrade file: 16 Flash pages of 256 bytes, 8 EEProm pages of 32 bytes"
"$BIN/zentrop-upgtool" sample --flash-pages 16 --flash-page-size 256 \
    --eeprom-pages 8 --eeprom-page-size 32 "$FILE"
"$BIN/zentrop-cli" info "$FILE"

echo
echo "== The simulated bootloader (pages of 256 and 32 bytes, line paced at 115200 baud)"
"$BIN/zentrop-bootsim" --baud 115200 --flash-page-size 256 --eeprom-page-size 32 \
    --images "$RECORD" --exit-after-jump >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM=$!
tries=0
while [ ! -s "$WORK/sim.out" ]; do
    if ! kill -0 "$SIM" 2>/dev/null || [ "$tries" -ge 100 ]; then
        echo "FAIL: the simulator did not start" >&2
        cat "$WORK/sim.err" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.05
done
PORT=$(head -n 1 "$WORK/sim.out")
echo "listening on $PORT"

echo
echo "== zentrop-cli flash --port $PORT --mode both"
status=0
"$BIN/zentrop-cli" flash --port "$PORT" --mode both "$FILE" || status=$?
echo "zentrop-cli exit status: $status"

# The simulator ends by itself after "J"; after a failed run it is told to end, and writes
# what it kept either way.
tries=0
while kill -0 "$SIM" 2>/dev/null && [ "$tries" -lt 40 ]; do
    tries=$((tries + 1))
    sleep 0.05
done
kill "$SIM" 2>/dev/null || true
wait "$SIM" 2>/dev/null || true
SIM=""

echo
echo "== What the device received, compared with the file"
verdict=0
"$BIN/zentrop-upgtool" verify --mode both "$FILE" "$RECORD" || verdict=$?
if [ "$status" -ne 0 ] || [ "$verdict" -ne 0 ]; then
    exit 1
fi
