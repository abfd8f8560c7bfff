#!/bin/sh
# Installs the Debian packages that building, testing and the demo need, and with "fuzz" or
# "sanitize" those of the fuzz targets and the sanitizer builds (clang), or with "screens" those
# for looking at the windows under a virtual display, or with "captures" the programs whose
# output the terminal's test data records; does nothing when all are present.
set -eu

# libgettextpo-dev reads translators' PO files; the MinGW binutils build language files for tests;
# libvterm-dev is the reference terminal that only the terminal's test tool and benchmark link;
# ser2net is the real network serial server the tests of the network ports run against;
# the terminal's tests run with each of the two fonts as the machine's monospace font; strace
# counts the upgrade benchmark's system calls.
PACKAGES="cmake g++ make pkg-config qt6-base-dev libgtest-dev libgmock-dev libgettextpo-dev binutils-mingw-w64-i686
    libvterm-dev ser2net fonts-dejavu-core fonts-noto-mono strace"
case "${1:-}" in
    fuzz | sanitize) PACKAGES="$PACKAGES clang libclang-rt-dev" ;;
    screens) PACKAGES="$PACKAGES xvfb xauth imagemagick xdotool" ;;
    # The programs whose output tools/capture_term.py records as the terminal's test data.
    captures) PACKAGES="$PACKAGES vttest dialog nano whiptail vim less procps htop mc" ;;
esac

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
