#!/usr/bin/env bash
# The headless modes with untrusted input and output around them: a reader
# that stops early, escape sequences in a store's metadata, a file name that
# is not UTF-8, a viewer.log that is a symbolic link. Each run ends by itself,
# the log holds the whole report and the store is unchanged.
# Usage: untrusted.sh CORVALIS_BINARY FIXTURE_DIR
set -uo pipefail
BIN=$1
FIX=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { timeout 20 "$WORK/corvalis" "$@"; }
log_report() { tr -d '\r' <"$WORK/viewer.log" | cut -c22- | grep -v '^boot: '; }

cp "$BIN" "$WORK/corvalis"
cp "$FIX/reference.mbtiles" "$WORK/ref.mbtiles"
sum=$(md5sum <"$WORK/ref.mbtiles")

# A reader that goes away early: the run still ends normally, report logged whole.
for reader in "head -1" "true"; do
    rm -f "$WORK/viewer.log"
    run --info "$WORK/ref.mbtiles" 2>/dev/null | $reader >"$WORK/head.txt"
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || fail "| $reader: exit code $rc"
    [ "$(log_report | tail -1)" = "=== INFO end ===" ] || fail "| $reader: log cut short"
    [ "$(log_report | wc -l)" -eq 10 ] || fail "| $reader: $(log_report | wc -l) report lines logged"
done
[ "$(cat "$WORK/head.txt")" = "" ] || fail "| true read something"

# Escape sequences and line breaks in a metadata value reach neither the
# terminal nor the log raw, and forge no line.
cp "$WORK/ref.mbtiles" "$WORK/evil.mbtiles"
sqlite3 "$WORK/evil.mbtiles" "UPDATE metadata SET value = 'png' || char(27) || ']0;owned' ||
    char(7) || char(27) || ']52;c;cm0glxjm' || char(7) || char(13) || char(10) ||
    '  kind=forged' WHERE name = 'format'"
rm -f "$WORK/viewer.log"
run --info "$WORK/evil.mbtiles" >"$WORK/evil.txt" 2>/dev/null || fail "evil store: exit code $?"
shown='format=png\x1b]0;owned\x07\x1b]52;c;cm0glxjm\x07\r\n  kind=forged'
grep -qF "$shown" "$WORK/evil.txt" || fail "escaped value not shown: $(grep format "$WORK/evil.txt")"
grep -qF "$shown" "$WORK/viewer.log" || fail "escaped value not logged"
[ "$(wc -l <"$WORK/evil.txt")" -eq 10 ] || fail "evil store: $(wc -l <"$WORK/evil.txt") lines"
LC_ALL=C grep -q $'[\x01-\x09\x0b\x0c\x0e-\x1f\x7f]' "$WORK/evil.txt" "$WORK/viewer.log" &&
    fail "control characters passed"

# A file name that is not valid UTF-8 (Latin-1) is opened by its bytes.
latin=$'caf\xe9.mbtiles'
cp "$WORK/ref.mbtiles" "$WORK/$latin"
LC_ALL=C.UTF-8 run --info "$WORK/$latin" >"$WORK/latin.txt" 2>/dev/null || fail "latin-1: exit code $?"
grep -qxF "file: $WORK/caf\\xe9.mbtiles" "$WORK/latin.txt" || fail "latin-1 path line: $(head -2 "$WORK/latin.txt")"
grep -q '^  kind=MBTiles ' "$WORK/latin.txt" || fail "latin-1 store not opened: $(cat "$WORK/latin.txt")"

# A viewer.log that links elsewhere: its target is not touched.
rm -f "$WORK/viewer.log"
echo precious >"$WORK/target.txt"
ln -s "$WORK/target.txt" "$WORK/viewer.log"
run --info "$WORK/ref.mbtiles" >"$WORK/linked.txt" 2>/dev/null || fail "linked log: exit code $?"
[ "$(cat "$WORK/target.txt")" = precious ] || fail "the log's link target was written"
[ -L "$WORK/viewer.log" ] || fail "the log's link was replaced"
[ "$(wc -l <"$WORK/linked.txt")" -eq 10 ] || fail "linked log: report not printed"

# Out of memory in a headless mode (a 100 MB metadata value under a 300 MB
# address-space limit): the run ends by itself, with its report or with a
# crash-log line and exit code 3, never in a message box nobody can close.
# Sanitizer builds need terabytes of address space: not there.
if ! ldd "$BIN" 2>/dev/null | grep -qE 'lib[at]san'; then
    cp "$WORK/ref.mbtiles" "$WORK/big.mbtiles"
    sqlite3 "$WORK/big.mbtiles" "UPDATE metadata SET value = 'png' || hex(zeroblob(50000000))
        WHERE name = 'format'"
    rm -f "$WORK/crash.log"
    (ulimit -v 300000 && run --info "$WORK/big.mbtiles" >"$WORK/big.txt" 2>/dev/null)
    rc=$?
    if [ $rc -eq 3 ]; then
        grep -qx $'exception in WinMain: std::bad_alloc\r' "$WORK/crash.log" ||
            fail "out of memory: crash log $(cat "$WORK/crash.log" 2>/dev/null)"
    elif [ $rc -ne 0 ] || [ "$(tail -1 "$WORK/big.txt")" != "=== INFO end ===" ]; then
        fail "out of memory: exit code $rc"
    fi
    rm -f "$WORK/big.mbtiles" "$WORK/crash.log"
fi

[ "$(md5sum <"$WORK/ref.mbtiles")" = "$sum" ] || fail "the store changed"
ls -a "$WORK" | grep -q '^\.viewer\.log\.' && fail "temporary log files left: $(ls -a "$WORK")"

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "untrusted input and output scenarios passed"
