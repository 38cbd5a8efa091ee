#!/usr/bin/env bash
# --help, -h and --version end to end: standard output, exit codes, no window,
# no display, no log; every option of the usage also in the manual page.
# Usage: cli.sh CORVALIS_BINARY FIXTURE_DIR
set -uo pipefail
BIN=$(readlink -f "$1")
BUILD=$(dirname "$(dirname "$BIN")")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "FAIL: no project version in $BUILD/CMakeCache.txt"; exit 1; }
cp "$BIN" "$WORK/corvalis"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$WORK/corvalis" "$@"; }

# Each form, also with arguments after it: exit 0, the text on standard output only.
for args in "--help" "-h" "--help extra words" "-h --info" "--version" "--version --help"; do
    # shellcheck disable=SC2086  # the words of args are separate arguments
    run $args >"$WORK/out.txt" 2>"$WORK/err.txt"
    rc=$?
    [ $rc -eq 0 ] || fail "'$args': exit code $rc"
    [ ! -s "$WORK/err.txt" ] || fail "'$args' wrote to standard error: $(cat "$WORK/err.txt")"
    case $args in
    --version*) expected="corvalis $VERSION" ;;
    *) expected=$(run --help) ;;
    esac
    [ "$(cat "$WORK/out.txt")" = "$expected" ] || fail "'$args' printed: $(head -3 "$WORK/out.txt")"
done
[ "$(run --version | wc -l)" -eq 1 ] || fail "--version is not one line"
[ ! -e "$WORK/viewer.log" ] || fail "--help or --version wrote a log"

# The usage names every mode and option.
run --help >"$WORK/help.txt"
head -1 "$WORK/help.txt" | grep -qx 'Usage: corvalis \[STORE\]' || fail "usage line: $(head -1 "$WORK/help.txt")"
for option in --info --selftest --check --json --map --decode --no-decode -h --help --version \
    .mbtiles .sqlitedb .omm .gpkg .pmtiles viewer.log XDG_STATE_HOME; do
    grep -qF -- "$option" "$WORK/help.txt" || fail "the usage does not mention $option"
done
# ... and the manual page every option of the usage.
MAN="$BUILD/packaging/corvalis.1"
if [ -f "$MAN" ]; then
    sed 's/\\-/-/g' "$MAN" >"$WORK/man.txt"
    for option in $(grep -oE '(^|[ [|])--?[a-z][a-z-]*' "$WORK/help.txt" | tr -d ' [|' | sort -u); do
        grep -q -- "$option" "$WORK/man.txt" || fail "the manual page lacks $option"
    done
else
    fail "no manual page at $MAN"
fi

# Output that cannot be written is an error, not a silent success.
if [ -w /dev/full ]; then
    run --help >/dev/full 2>/dev/null && fail "--help into a full disk exited 0"
    run --version >/dev/full 2>/dev/null && fail "--version into a full disk exited 0"
fi

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "command line scenarios passed"
