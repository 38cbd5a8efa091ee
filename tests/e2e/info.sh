#!/usr/bin/env bash
# The --info mode end to end: exit code, standard output, the log, no window,
# and the store left untouched. Usage: info.sh CORVALIS_BINARY FIXTURE_DIR
set -uo pipefail
BIN=$1
FIX=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cp "$BIN" "$WORK/corvalis"
cp "$FIX/reference.mbtiles" "$WORK/ref.mbtiles"
touch -d '2020-01-02 03:04:05' "$WORK/ref.mbtiles"
before=$(stat -c '%Y %s' "$WORK/ref.mbtiles"; md5sum <"$WORK/ref.mbtiles")

# No display at all: the mode still runs (it never shows the window).
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$WORK/corvalis" --info "$WORK/ref.mbtiles" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ $rc -eq 0 ] || fail "exit code $rc: $(cat "$WORK/err.txt")"

world="lon -180.00000..180.00000  lat -85.05113..85.05113"
cat >"$WORK/expected.txt" <<END
=== INFO begin ===
file: $WORK/ref.mbtiles
  kind=MBTiles  localGrid=0  geoUnknown=0  format=png
  zoom=0-3  tile=256x256  scheme=TMS
  z0  x=0..0 y=0..0  $world
  z1  x=0..1 y=0..1  $world
  z2  x=0..3 y=0..3  $world
  z3  x=0..7 y=0..7  $world
  bounds -180.00000,-85.00000,180.00000,85.00000
=== INFO end ===
END
diff "$WORK/expected.txt" "$WORK/out.txt" || fail "standard output differs"

# The log: the boot line, then the report behind timestamps, CR LF endings.
tr -d '\r' <"$WORK/viewer.log" | cut -c22- >"$WORK/log.txt"
{ echo "boot: argc=2 arg1=[--info]"; cat "$WORK/expected.txt"; } | diff - "$WORK/log.txt" || fail "log differs"
[ "$(grep -c $'\r$' "$WORK/viewer.log")" -eq "$(wc -l <"$WORK/viewer.log")" ] || fail "log lines lack CR LF"
grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  === INFO begin ===' "$WORK/viewer.log" || fail "timestamp format"

after=$(stat -c '%Y %s' "$WORK/ref.mbtiles"; md5sum <"$WORK/ref.mbtiles")
[ "$before" = "$after" ] || fail "the store changed"
[ "$(ls "$WORK" | grep -c '^ref\.mbtiles')" -eq 1 ] || fail "files appeared beside the store: $(ls "$WORK")"

# Slashes in the path are kept (POSIX separator) and a missing store gives four lines.
"$WORK/corvalis" --info "$WORK//missing.mbtiles" extra-arguments-are-ignored >"$WORK/out2.txt" 2>/dev/null
[ $? -eq 0 ] || fail "exit code for a missing store"
[ "$(wc -l <"$WORK/out2.txt")" -eq 4 ] || fail "missing store: $(cat "$WORK/out2.txt")"
grep -qx "file: $WORK//missing.mbtiles" "$WORK/out2.txt" || fail "path line"
grep -q '^  cannot open: cannot open database: ' "$WORK/out2.txt" || fail "reason line"
[ -e "$WORK/missing.mbtiles" ] && fail "a missing store was created"

# The boot line counts the command line as typed, the toolkit's own options too.
rm -f "$WORK/viewer.log"
"$WORK/corvalis" --info "$WORK/ref.mbtiles" -platform offscreen >"$WORK/out3.txt" 2>/dev/null
[ $? -eq 0 ] || fail "exit code with a toolkit option"
diff -q "$WORK/expected.txt" "$WORK/out3.txt" >/dev/null || fail "report with a toolkit option"
boot=$(tr -d '\r' <"$WORK/viewer.log" | head -1 | cut -c22-)
[ "$boot" = "boot: argc=4 arg1=[--info]" ] || fail "boot line with a toolkit option: $boot"

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "info scenarios passed"
