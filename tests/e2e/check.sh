#!/usr/bin/env bash
# The --check mode end to end: exit codes 0, 1, 2 and 130, the report on
# standard output, one line in the log, the JSON and the picture, output
# files behind links refused. Usage: check.sh CORVALIS_BINARY FIXTURE_DIR
set -uo pipefail
BIN=$1
FIX=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
logged() { tr -d '\r' <"$WORK/viewer.log" | cut -c22-; }

cp "$BIN" "$WORK/corvalis"
cp "$FIX/reference.mbtiles" "$WORK/ref.mbtiles"

# A sound store: exit 0, no window needed, the report on standard output only.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$WORK/corvalis" --check "$WORK/ref.mbtiles" \
    --json "$WORK/ref.json" --map "$WORK/ref.png" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ $rc -eq 0 ] || fail "sound store: exit code $rc: $(cat "$WORK/out.txt" "$WORK/err.txt")"
head -1 "$WORK/out.txt" | grep -qx "check: $WORK/ref.mbtiles" || fail "first report line"
grep -qx 'problems: none' "$WORK/out.txt" || fail "no 'problems: none' line"
[ "$(logged | grep -c '^check ')" -eq 1 ] || fail "log: $(logged)"
logged | grep -qx "check $WORK/ref.mbtiles: 0 problems" || fail "log line: $(logged)"
logged | grep -q 'problems: none' && fail "the report went to the log"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["tiles"] == 85 and d["problem_count"] == 0, d' \
    "$WORK/ref.json" || fail "JSON"
[ "$(head -c 8 "$WORK/ref.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "picture is no PNG"

# Planted faults: a tile at column 2^z and a second row for one address.
cp "$WORK/ref.mbtiles" "$WORK/bad.mbtiles"
sqlite3 "$WORK/bad.mbtiles" "INSERT INTO tiles SELECT 3, 8, 0, tile_data FROM tiles WHERE zoom_level=3 LIMIT 1;"
rm -f "$WORK/viewer.log"
"$WORK/corvalis" --check "$WORK/bad.mbtiles" --no-decode >"$WORK/bad.txt" 2>/dev/null
rc=$?
[ $rc -eq 1 ] || fail "faulty store: exit code $rc"
grep -qx '      3/8/7' "$WORK/bad.txt" || fail "outside sample: $(cat "$WORK/bad.txt")"
logged | grep -qx "check $WORK/bad.mbtiles: 1 problems" || fail "log line: $(logged)"

# A store that cannot be opened: exit 2 and the open's reason on standard error.
"$WORK/corvalis" --check "$WORK/missing.mbtiles" >"$WORK/out2.txt" 2>"$WORK/err2.txt"
rc=$?
[ $rc -eq 2 ] || fail "missing store: exit code $rc"
grep -q "^open failed: $WORK/missing.mbtiles / cannot open database: " "$WORK/err2.txt" ||
    fail "missing store: $(cat "$WORK/err2.txt")"
[ -s "$WORK/out2.txt" ] && fail "missing store: a report was printed"
"$WORK/corvalis" --check "$WORK/ref.mbtiles" --frobnicate >/dev/null 2>&1
[ $? -eq 2 ] || fail "unknown option accepted"

# An output file that is a link is left alone, and the run says it failed.
echo keep >"$WORK/target.txt"
ln -s "$WORK/target.txt" "$WORK/link.json"
"$WORK/corvalis" --check "$WORK/ref.mbtiles" --json "$WORK/link.json" >/dev/null 2>"$WORK/err3.txt"
rc=$?
[ $rc -eq 2 ] || fail "JSON behind a link: exit code $rc"
[ "$(cat "$WORK/target.txt")" = keep ] || fail "the link was followed"

# Ctrl+C: the report of what was read so far, exit 130.
sqlite3 "$WORK/big.mbtiles" "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);
  WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n LIMIT 3000000)
  INSERT INTO tiles SELECT 12, i % 4096, i / 4096, x'89504e470d0a1a0a' || randomblob(40) FROM n;"
"$WORK/corvalis" --check "$WORK/big.mbtiles" --no-decode >"$WORK/big.txt" 2>/dev/null &
pid=$!
sleep 1.5
kill -INT $pid
wait $pid
rc=$?
[ $rc -eq 130 ] || fail "Ctrl+C: exit code $rc"
grep -q '^interrupted: ' "$WORK/big.txt" || fail "Ctrl+C: no report of the tiles read: $(head -5 "$WORK/big.txt")"

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "check scenarios passed"
