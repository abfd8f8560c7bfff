#!/bin/sh
# Checks the Debian package of a build: tools/package_test.sh BUILD_DIR
# Makes the package afresh with cpack, checks its control fields and files, runs the programs
# from the unpacked tree, then installs it with dpkg into a scratch root (never into this
# machine's own system), runs them from there, removes it and checks nothing is left behind.
# Status 77 (a skip) where dpkg is missing, or where the install cannot be tried (not root and
# no fakeroot).
set -eu
BUILD=$(cd "${1:?usage: tools/package_test.sh BUILD_DIR}" && pwd)
if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
    echo "SKIP: dpkg-deb or cpack is missing; the Debian package cannot be checked here"
    exit 77
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zentrop-package.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
PROGRAMS="zentrop zentrop-cli zentrop-lcf zentrop-term"
FILES="usr/share/applications/zentrop.desktop usr/share/applications/zentrop-term.desktop
usr/share/man/man1/zentrop.1 usr/share/man/man1/zentrop-cli.1 usr/share/man/man1/zentrop-lcf.1
usr/share/man/man1/zentrop-term.1 usr/share/bash-completion/completions/zentrop-cli
usr/share/bash-completion/completions/zentrop-lcf usr/share/icons/hicolor/48x48/apps/zentrop.png
usr/share/icons/hicolor/256x256/apps/zentrop.png usr/share/zentrop/60-zentrop-serial.rules"

# Every program runs with the system's libraries alone, and says its version.
programs_run() {
    for p in $PROGRAMS; do
        env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$1/usr/bin/$p" --version | grep -q "^$p [0-9]" ||
            fail "$p from $2 does not run"
    done
}
files_present() {
    for f in $(echo "$FILES"); do
        [ -s "$1/$f" ] || fail "$f is not in $2"
    done
}

(cd "$BUILD" && cpack -G DEB -B "$WORK/pkg") >"$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log" >&2
    fail "cpack could not make the package"
}
DEB=$(ls "$WORK"/pkg/zentrop_*.deb)
[ "$(dpkg-deb -f "$DEB" Package)" = zentrop ] || fail "the package is not named zentrop"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for lib in libc6 libqt6core6 libqt6widgets6; do
    echo "$DEPENDS" | grep -q "$lib" || fail "Depends does not name $lib: $DEPENDS"
done
OWNERS=$(dpkg-deb -c "$DEB" | awk '$2 != "root/root"')
[ -z "$OWNERS" ] || fail "files not owned by root: $OWNERS"
dpkg-deb -x "$DEB" "$WORK/unpacked"
files_present "$WORK/unpacked" "the package"
programs_run "$WORK/unpacked" "the package"

# dpkg itself, into a scratch root: a developer's machine keeps its own system untouched.
if [ "$(id -u)" = 0 ]; then
    AS=""
elif command -v fakeroot >/dev/null; then
    AS=fakeroot
else
    echo "SKIP: installing with dpkg needs root or fakeroot; the package's contents were checked"
    exit 77
fi
ROOT=$WORK/root
mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/triggers"
touch "$ROOT/var/lib/dpkg/status" "$ROOT/var/lib/dpkg/available"
# The scratch root has none of the system's packages: the dependencies are this machine's.
$AS dpkg --root="$ROOT" --force-depends --force-script-chrootless -i "$DEB" >"$WORK/dpkg.log" 2>&1 || {
    cat "$WORK/dpkg.log" >&2
    fail "dpkg -i failed"
}
files_present "$ROOT" "the installed tree"
programs_run "$ROOT" "the installed tree"
$AS dpkg --root="$ROOT" --force-depends --force-script-chrootless -r zentrop >"$WORK/dpkg.log" 2>&1 || {
    cat "$WORK/dpkg.log" >&2
    fail "dpkg -r failed"
}
LEFT=$(find "$ROOT" -path "$ROOT/var/lib/dpkg" -prune -o ! -type d -print)
[ -z "$LEFT" ] || fail "dpkg -r left files behind: $LEFT"
[ -z "$(find "$ROOT/usr" -mindepth 1 2>/dev/null)" ] || fail "dpkg -r left directories behind: $(find "$ROOT/usr" -mindepth 1)"
echo "package_test: $(basename "$DEB") checked, installed into and removed from a scratch root"
