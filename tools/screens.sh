#!/bin/sh
# Saves screenshots of the terminal window, the terminal settings dialog and zentrop-term, drawn by a real
# X server (a virtual display), into the given directory: ./tools/screens.sh [BIN_DIR] [OUT_DIR]
set -eu
cd "$(dirname "$0")/.."
BIN=${1:-build/bin}
OUT=${2:-build/screens}
./tools/setup.sh screens
xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN/zentrop-screens" "$OUT"
