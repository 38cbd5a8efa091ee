#!/usr/bin/env bash
# The self-check mode end to end: the program copied into a scratch folder (so
# that its log and render dump land there), run on the generated stores.
# Usage: selftest.sh CORVALIS_BINARY FIXTURE_DIR
set -uo pipefail
BIN=$1
FIX=$2
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs the self-check with a fresh copy of the program in $1 on store $2;
# leaves the log's lines without timestamps in $1/lines.txt.
run() {
  local dir=$1 store=$2
  mkdir -p "$dir"
  cp "$BIN" "$dir/corvalis"
  rm -f "$dir/viewer.log"
  "$dir/corvalis" --selftest "$store" >"$dir/stdout.txt" 2>"$dir/stderr.txt"
  local rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc for $store"
  tr -d '\r' <"$dir/viewer.log" | cut -c22- >"$dir/lines.txt"
  # Standard output carries the same report lines.
  grep -v -e '^selftest mode entered$' -e '^selftest finished, terminating$' -e '^boot: ' -e '^opened ' -e '^grid z=' "$dir/lines.txt" >"$dir/report.txt"
  diff -q "$dir/report.txt" "$dir/stdout.txt" >/dev/null || fail "standard output differs from the log for $store"
}
checks() { grep -c -E '^  \[(PASS|FAIL)\] ' "$1/lines.txt"; }
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }

# 1. The reference store with the Orux fixture beside it: 38 checks, all passing.
run "$WORK/ref" "$FIX/reference.mbtiles"
[ "$(checks "$WORK/ref")" -eq 38 ] || fail "reference: $(checks "$WORK/ref") check lines, expected 38"
grep -q '\[FAIL\]' "$WORK/ref/lines.txt" && fail "reference: $(grep '\[FAIL\]' "$WORK/ref/lines.txt")"
grep -qx '=== SELFTEST end: 0 failed ===' "$WORK/ref/lines.txt" || fail "reference: no clean end line"
grep -qx 'selftest mode entered' "$WORK/ref/lines.txt" || fail "reference: mode line missing"
tail -n1 "$WORK/ref/lines.txt" | grep -qx 'selftest finished, terminating' || fail "reference: last line"
grep -qx "  render dump: $WORK/ref/selftest_render.png" "$WORK/ref/lines.txt" || fail "reference: dump line"
[ "$(head -c8 "$WORK/ref/selftest_render.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] \
  || fail "reference: the render dump is not a PNG"
size=$(png_size "$WORK/ref/selftest_render.png")
[ "$size" = "980x593" ] || fail "reference: render dump is $size, expected the map area 980x593"
grep -q '\[PASS\] letterbox corners black (000000 000000 000000 000000)' "$WORK/ref/lines.txt" \
  || fail "reference: letterbox label"
grep -q '\[PASS\] z3 lon/lat roundtrip -> (116.367, 39.910)' "$WORK/ref/lines.txt" || fail "reference: roundtrip label"

# 2. The reference store alone in another folder: 32 checks, none about Orux,
#    and the dump still lands beside the executable.
mkdir -p "$WORK/alone/store"
cp "$FIX/reference.mbtiles" "$WORK/alone/store/ref.mbtiles"
run "$WORK/alone" "$WORK/alone/store/ref.mbtiles"
[ "$(checks "$WORK/alone")" -eq 32 ] || fail "alone: $(checks "$WORK/alone") check lines, expected 32"
grep -q '\] orux' "$WORK/alone/lines.txt" && fail "alone: orux checks ran"
[ -f "$WORK/alone/selftest_render.png" ] || fail "alone: no dump beside the executable"
[ -e "$WORK/alone/store/selftest_render.png" ] && fail "alone: dump beside the store"

# 3. Another store: runs to the end with FAIL lines and their count.
run "$WORK/other" "$FIX/sample.mbtiles"
grep -qx '  \[FAIL\] maxzoom == 3' "$WORK/other/lines.txt" || fail "other: maxzoom not failed"
grep -qx '  \[PASS\] z4 extent == 0..15 (XYZ)' "$WORK/other/lines.txt" || fail "other: z4 extent line"
n=$(grep -c '\[FAIL\]' "$WORK/other/lines.txt")
grep -qx "=== SELFTEST end: $n failed ===" "$WORK/other/lines.txt" || fail "other: end line does not count $n"

# 4. A file that cannot be opened: exactly the four lines of the report.
echo "plain text, not a store" >"$WORK/notes.txt"
run "$WORK/bad" "$WORK/notes.txt"
printf '%s\n' "=== SELFTEST begin ===" "file: $WORK/notes.txt" \
  "  [FAIL] open: this file has no 'tiles' table." "=== SELFTEST end: 1 failed ===" >"$WORK/bad/expected.txt"
diff "$WORK/bad/expected.txt" "$WORK/bad/report.txt" >/dev/null || fail "bad: $(cat "$WORK/bad/report.txt")"

# 5. Tiles that do not decode: the grid is built, loaded and missing fail with counts.
sqlite3 "$FIX/reference.mbtiles" ".dump" | sed "s/X'89504[Ee]47[0-9A-Fa-f]*'/X'00112233445566778899'/g" \
  | sqlite3 "$WORK/broken.mbtiles"
run "$WORK/broken" "$WORK/broken.mbtiles"
grep -qx '  \[PASS\] render grid built' "$WORK/broken/lines.txt" || fail "broken: grid"
grep -qx '  \[FAIL\] render loaded tiles = 0' "$WORK/broken/lines.txt" || fail "broken: loaded label"
grep -qE '^  \[FAIL\] render missing tiles = [1-9][0-9]*$' "$WORK/broken/lines.txt" || fail "broken: missing label"

# 6. A render dump that cannot be written is reported in one line; the run ends normally.
mkdir -p "$WORK/nodump/selftest_render.png"
run "$WORK/nodump" "$FIX/reference.mbtiles"
grep -qx "  render dump failed: $WORK/nodump/selftest_render.png" "$WORK/nodump/lines.txt" || fail "nodump: no line"
grep -qx '=== SELFTEST end: 0 failed ===' "$WORK/nodump/lines.txt" || fail "nodump: end line"

# 7. A link in the dump's place is refused, and what it points to is left alone.
mkdir -p "$WORK/linked"
echo keep >"$WORK/linked-target"
ln -s "$WORK/linked-target" "$WORK/linked/selftest_render.png"
run "$WORK/linked" "$FIX/reference.mbtiles"
grep -qx "  render dump failed: $WORK/linked/selftest_render.png" "$WORK/linked/lines.txt" || fail "linked: no line"
[ "$(cat "$WORK/linked-target")" = keep ] || fail "linked: the link's target was written"

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "selftest scenarios passed"
