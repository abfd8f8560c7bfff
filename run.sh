#!/bin/sh
# Sets up, builds and runs Zentrop's jobs:
#   ./run.sh demo | test | gui | gui-hu | term [PORT] | fuzz [runs] [seconds] | bench | sanitize | install PREFIX | package
set -eu
cd "$(dirname "$0")"

BUILD=build
JOBS=$(nproc 2>/dev/null || echo 2)

# Builds the given targets, or everything.
build() {
    ./tools/setup.sh
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    targets=""
    for t in "$@"; do targets="$targets --target $t"; done
    # shellcheck disable=SC2086
    cmake --build "$BUILD" -j "$JOBS" $targets
}

case "${1:-demo}" in
    test)
        build
        ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS"
        ;;
    demo)
        # Only what the demo runs, not the tests and tools it does not need.
        build zentrop-cli zentrop-bootsim zentrop-upgtool
        ./tools/demo.sh "$BUILD/bin"
        ;;
    gui)
        build
        shift
        # Without the sample language file put there by gui-hu, the window shows its own texts.
        if cmp -s "$BUILD/lang/hu.lcf" "$BUILD/bin/zentrop.lcf"; then rm -f "$BUILD/bin/zentrop.lcf"; fi
        exec "$BUILD/bin/zentrop" "$@"
        ;;
    gui-hu)
        build
        shift
        cp "$BUILD/lang/hu.lcf" "$BUILD/bin/zentrop.lcf"
        exec "$BUILD/bin/zentrop" "$@"
        ;;
    term)
        build
        shift
        exec "$BUILD/bin/zentrop-term" "$@"
        ;;
    fuzz)
        ./tools/setup.sh fuzz
        shift
        ./tools/fuzz.sh "$@"
        ;;
    bench)
        build
        ./tools/bench.sh "$BUILD/bin"
        ;;
    sanitize)
        ./tools/setup.sh sanitize
        ./tools/sanitize.sh
        ;;
    install)
        [ $# -eq 2 ] || { echo "usage: $0 install PREFIX" >&2; exit 2; }
        build
        cmake --install "$BUILD" --prefix "$2"
        ;;
    package)
        # The programs the package holds, not the tests; then the .deb into the build directory.
        build zentrop zentrop-cli zentrop-lcf zentrop-term zentrop_install_files
        (cd "$BUILD" && cpack -G DEB) >"$BUILD/cpack.log" 2>&1 || { cat "$BUILD/cpack.log" >&2; exit 1; }
        ls -t "$(cd "$BUILD" && pwd)"/zentrop_*.deb | head -n 1
        ;;
    *)
        echo "usage: $0 demo | test | gui | gui-hu | term [PORT] | fuzz [runs] [seconds] | bench | sanitize | install PREFIX | package" >&2
        exit 2
        ;;
esac
