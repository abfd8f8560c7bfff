#!/bin/sh
# Installs a build into a temporary prefix and runs the installed programs from there:
#   tools/install_test.sh BUILD_DIR
# Checks every installed file, the programs' version and help, an upgrade file made and read
# by the installed command line, the manual pages, the shell completion, and that the installed
# window, whose directory it cannot write, takes its settings from $XDG_CONFIG_HOME/zentrop.
set -eu
BUILD=$(cd "${1:?usage: tools/install_test.sh BUILD_DIR}" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zentrop-install.XXXXXX")
PREFIX=$WORK/prefix
SIM=""
WINDOW=""

cleanup() {
    for pid in $WINDOW $SIM; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

for f in bin/zentrop bin/zentrop-cli bin/zentrop-term share/applications/zentrop.desktop \
    share/applications/zentrop-term.desktop share/man/man1/zentrop-term.1 \
    share/icons/hicolor/48x48/apps/zentrop.png share/icons/hicolor/256x256/apps/zentrop.png \
    share/man/man1/zentrop.1 share/man/man1/zentrop-cli.1 share/bash-completion/completions/zentrop-cli \
    share/man/man1/zentrop-lcf.1 share/bash-completion/completions/zentrop-lcf \
    share/zentrop/60-zentrop-serial.rules share/doc/Zentrop/README.md; do
    [ -s "$PREFIX/$f" ] || fail "$f is not installed"
done
grep -qx 'Exec=zentrop' "$PREFIX/share/applications/zentrop.desktop" || fail "the desktop entry does not start zentrop"
grep -qx 'Icon=zentrop' "$PREFIX/share/applications/zentrop.desktop" || fail "the desktop entry names another icon"
grep -qx 'Exec=zentrop-term' "$PREFIX/share/applications/zentrop-term.desktop" || fail "the terminal's entry does not start zentrop-term"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$PREFIX/share/applications/zentrop.desktop" "$PREFIX/share/applications/zentrop-term.desktop" ||
        fail "a desktop entry is not valid"
fi

CLI=$PREFIX/bin/zentrop-cli
"$CLI" --version | grep -q '^zentrop-cli [0-9]' || fail "zentrop-cli --version"
"$PREFIX/bin/zentrop" --version | grep -q '^zentrop [0-9]' || fail "zentrop --version"
"$PREFIX/bin/zentrop-term" --version | grep -q '^zentrop-term [0-9]' || fail "zentrop-term --version"
for c in info flash ports pack monitor; do
    "$CLI" $c --help | grep -q "^usage: zentrop-cli $c" || fail "zentrop-cli $c --help"
done
"$PREFIX/bin/zentrop-lcf" --version | grep -q '^zentrop-lcf [0-9]' || fail "zentrop-lcf --version"
for c in dump template build; do
    "$PREFIX/bin/zentrop-lcf" $c --help | grep -q "^usage: zentrop-lcf $c" || fail "zentrop-lcf $c --help"
    "$CLI" lcf $c --help | grep -q "^usage: zentrop-lcf $c" || fail "zentrop-cli lcf $c --help does not run zentrop-lcf"
done

# An upgrade file from a HEX file, read back, by the installed program.
printf ':0400000001020304F2\n:00000001FF\n' >"$WORK/fw.hex"
"$CLI" pack --flash "$WORK/fw.hex" --flash-page-size 16 --name installed -o "$WORK/fw.upg" >/dev/null
"$CLI" info "$WORK/fw.upg" | grep -qx 'Name: installed' || fail "info of the packed file"

if command -v groff >/dev/null; then
    for page in zentrop zentrop-cli zentrop-lcf zentrop-term; do
        warnings=$(groff -man -Tutf8 -ww -z "$PREFIX/share/man/man1/$page.1" 2>&1)
        [ -z "$warnings" ] || fail "$page.1: $warnings"
    done
fi
for section in 'COMMAND PACK' 'COMMAND MONITOR' 'EXIT STATUS' 'EXAMPLES'; do
    grep -q "$section" "$PREFIX/share/man/man1/zentrop-cli.1" || fail "the manual page lacks \"$section\""
done
for section in 'COMMAND BUILD' 'EXIT STATUS' 'EXAMPLES'; do
    grep -q "$section" "$PREFIX/share/man/man1/zentrop-lcf.1" || fail "zentrop-lcf's manual page lacks \"$section\""
done

words=$(PATH="$PREFIX/bin:$PATH" bash -c '. "$1"; COMP_WORDS=(zentrop-cli pack --fl); COMP_CWORD=2; _zentrop_cli; echo "${COMPREPLY[*]}"' \
    sh "$PREFIX/share/bash-completion/completions/zentrop-cli")
[ "$words" = "--flash --flash-page-size" ] || fail "completion of \"pack --fl\" gave \"$words\""
words=$(PATH="$PREFIX/bin:$PATH" bash -c '. "$1"; COMP_WORDS=(zentrop-lcf build --); COMP_CWORD=2; _zentrop_lcf; echo "${COMPREPLY[*]}"' \
    sh "$PREFIX/share/bash-completion/completions/zentrop-lcf")
[ "$words" = "--flags --help --lang --output" ] || fail "completion of \"lcf build --\" gave \"$words\""

# The installed window in a directory it cannot write: run as an unprivileged user (root may
# write anywhere) or with the directory made read-only. The settings file under
# $XDG_CONFIG_HOME names a simulated device, which the window opens at start-up.
AS=""
if [ "$(id -u)" -eq 0 ]; then
    if ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
        echo "install test: no unprivileged user to run the window as; the settings location is not checked"
        exit 0
    fi
    AS="setpriv --reuid=nobody --regid=$(id -g nobody) --clear-groups"
else
    chmod a-w "$PREFIX/bin"
fi
chmod 755 "$WORK"
"$BUILD/bin/zentrop-bootsim" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM=$!
tries=0
while [ ! -s "$WORK/sim.out" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || fail "the simulator did not start: $(cat "$WORK/sim.err")"
    sleep 0.05
done
PTY=$(head -n 1 "$WORK/sim.out")
chmod 666 "$PTY"
mkdir -p "$WORK/config/zentrop"
printf '[COMMON]\ncomport=%s\n' "$PTY" >"$WORK/config/zentrop/zentrop.ini"
chmod -R a+rwX "$WORK/config"
# shellcheck disable=SC2086
env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$WORK/config" $AS "$PREFIX/bin/zentrop" >"$WORK/window.log" 2>&1 &
WINDOW=$!
tries=0
until ls -l "/proc/$WINDOW/fd" 2>/dev/null | grep -q -- "-> $PTY\$"; do
    tries=$((tries + 1))
    [ "$tries" -lt 200 ] && kill -0 "$WINDOW" 2>/dev/null ||
        fail "the installed window did not open the port named in \$XDG_CONFIG_HOME/zentrop/zentrop.ini: $(cat "$WORK/window.log")"
    sleep 0.05
done
[ ! -e "$PREFIX/bin/zentrop.ini" ] || fail "the installed window wrote its settings beside itself"
echo "install test: PASS"
