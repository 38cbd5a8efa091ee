#!/usr/bin/env bash
# Drives the real program in a virtual X server: opens the reference store from
# the command line, zooms with the wheel, drags (also against an edge), presses
# arrow keys, and checks the screen, the log and that the store file is untouched.
# Usage: realwindow.sh <path-to-corvalis> <fixture-dir>
set -euo pipefail

PROGRAM=$(readlink -f "$1")
FIXTURES=$(readlink -f "$2")
SHOTCHECK="$(dirname "$PROGRAM")/shotcheck"
for tool in Xvfb xdotool sqlite3 sha256sum "$SHOTCHECK"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not available"; exit 1; }
done

# shellcheck source=../../scripts/xsession.sh
. "$(dirname "$0")/../../scripts/xsession.sh"
begin_session corvalis-e2e

fail() {
    echo "FAIL: $*"
    [ -f "$WORK/bin/viewer.log" ] && sed 's/^/  log: /' "$WORK/bin/viewer.log"
    [ -f "$WORK/Xvfb_screen0" ] && "$SHOTCHECK" png "$WORK/Xvfb_screen0" realwindow_failed.png || true
    exit 1
}

# The program runs from a folder of its own, so its log is ours alone.
mkdir -p "$WORK/bin" "$WORK/store"
cp "$PROGRAM" "$WORK/bin/corvalis"
STORE="$WORK/store/ref.mbtiles"
cp "$FIXTURES/reference.mbtiles" "$STORE"
touch -d '2020-01-02 03:04:05' "$STORE"
SUM_BEFORE=$(sha256sum "$STORE" | cut -d' ' -f1)
MTIME_BEFORE=$(stat -c %Y "$STORE")
sqlite3 -readonly "$FIXTURES/reference.mbtiles" \
    "SELECT writefile('$WORK/z0.png', tile_data) FROM tiles WHERE zoom_level = 0;" >/dev/null
[ -s "$WORK/z0.png" ] || fail "no level-0 tile in the reference store"

# A free display number; the X server writes its screen to $WORK/Xvfb_screen0.
start_xvfb 91 160 -fbdir "$WORK" || fail "cannot start a virtual X server"

LOG="$WORK/bin/viewer.log"
count() { grep -c -- "$1" "$LOG" 2>/dev/null || true; }
wait_for_count() {  # pattern, count
    for _ in $(seq 100); do
        [ "$(count "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    fail "log never had $2 line(s) matching '$1'"
}
# Parks the pointer outside the window (the virtual screen shows it), waits
# until two screen dumps in a row are the same, then keeps one as $1.
snapshot() {
    local previous="$WORK/settle.xwd"
    xdotool mousemove 1 1
    cp "$WORK/Xvfb_screen0" "$previous"
    for _ in $(seq 50); do
        sleep 0.15
        cp "$WORK/Xvfb_screen0" "$WORK/$1"
        cmp -s "$previous" "$WORK/$1" && return 0
        cp "$WORK/$1" "$previous"
    done
    fail "the screen never settled"
}
check_zero() {  # label, shotcheck arguments...
    local label=$1
    shift
    local n
    n=$("$SHOTCHECK" "$@") || fail "$label: shotcheck failed"
    [ "$n" = "0" ] || fail "$label: $n pixels differ"
    echo "ok: $label"
}

QT_QPA_PLATFORM=xcb "$WORK/bin/corvalis" "$STORE" >"$WORK/app.out" 2>&1 &
APP_PID=$!
WID=$(timeout 20 xdotool search --sync --onlyvisible --name 'Corvalis  -  ref.mbtiles' | head -1) ||
    fail "the window did not appear"
wait_for_count "grid z=0 cols=1 rows=1 loaded=1 reused=0 missing=0" 1
eval "$(xdotool getwindowgeometry --shell "$WID")"
[ "$WIDTH" = 980 ] && [ "$HEIGHT" = 660 ] || fail "window is ${WIDTH}x$HEIGHT, not 980x660"
MX=$X
MY=$((Y + 48))  # the map area: 980 x 593 below the 48-pixel tool bar
xdotool windowfocus --sync "$WID" || true

# Zoom 0: the one world tile letterboxed in the middle of the map area.
snapshot z0.xwd
check_zero "level-0 tile shown at the letterbox position" match "$WORK/z0.xwd" $((MX + 362)) $((MY + 168)) "$WORK/z0.png"
check_zero "letterbox band is black" black "$WORK/z0.xwd" "$MX" "$MY" 360 160
check_zero "letterbox bottom is black" black "$WORK/z0.xwd" "$MX" $((MY + 425)) 980 168

# Two wheel notches over the map: zoom 2, 1024 x 1024 content filling the view.
xdotool mousemove $((MX + 490)) $((MY + 296))
xdotool click 4
wait_for_count "grid z=1 " 1
xdotool click 4
wait_for_count "grid z=2 " 1
snapshot z2.xwd
BLACKS=$("$SHOTCHECK" blacks "$WORK/z2.xwd" "$MX" $((MY + 210)) 980 383)
[ "$BLACKS" -lt 3000 ] || fail "zoom 2 leaves $BLACKS black pixels in the map area"
echo "ok: zoom 2 fills the map area"

# Drag 20 left and 60 up: the picture follows the pointer.
xdotool mousemove $((MX + 500)) $((MY + 300)) mousedown 1
xdotool mousemove $((MX + 490)) $((MY + 270))
xdotool mousemove $((MX + 480)) $((MY + 240)) mouseup 1
snapshot drag1.xwd
check_zero "drag moves the map with the pointer" shift "$WORK/drag1.xwd" "$WORK/z2.xwd" "$MX" $((MY + 210)) 940 320 20 60

# Drag 100 right (the west edge stops the map after 42) and 30 back: the map
# moves back at once, no slack built up against the edge.
xdotool mousemove $((MX + 400)) $((MY + 300)) mousedown 1
xdotool mousemove $((MX + 450)) $((MY + 300))
xdotool mousemove $((MX + 500)) $((MY + 300))
xdotool mousemove $((MX + 470)) $((MY + 300)) mouseup 1
snapshot drag2.xwd
check_zero "drag against the edge and back" shift "$WORK/drag2.xwd" "$WORK/drag1.xwd" $((MX + 12)) $((MY + 210)) 960 380 -12 0

# Arrow keys: Down moves the map 40 down; Left meets the east edge after 14.
xdotool key --window "$WID" Down
snapshot key1.xwd
check_zero "Down arrow moves the map down" shift "$WORK/key1.xwd" "$WORK/drag2.xwd" "$MX" $((MY + 250)) 960 340 0 -40
xdotool key --window "$WID" Left
snapshot key2.xwd
check_zero "Left arrow stops at the edge" shift "$WORK/key2.xwd" "$WORK/key1.xwd" "$MX" $((MY + 210)) 960 380 14 0
xdotool key --window "$WID" Left
snapshot key3.xwd
check_zero "Left arrow at the edge changes nothing" shift "$WORK/key3.xwd" "$WORK/key2.xwd" "$MX" "$MY" 980 593 0 0

# One notch down: back to zoom 1, a second grid line for it.
xdotool mousemove $((MX + 490)) $((MY + 296)) click 5
wait_for_count "grid z=1 " 2
snapshot z1.xwd
"$SHOTCHECK" png "$WORK/z1.xwd" realwindow.png || true

# Only zoom steps composed with force: four grid lines in all, one open.
[ "$(count 'grid z=')" = 4 ] || fail "expected 4 grid lines, found $(count 'grid z=')"
[ "$(count "opened $STORE  kind=MBTiles  zoom=0-3  tile=256x256  format=png")" = 1 ] ||
    fail "no 'opened' line for the store"
[ "$(count 'grid z=2 ')" = 1 ] || fail "zoom 2 was composed more than once with force"

kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=""
if grep -E "ERROR: AddressSanitizer|runtime error:" "$WORK/app.out"; then
    fail "the sanitizers reported a fault"
fi
[ "$(sha256sum "$STORE" | cut -d' ' -f1)" = "$SUM_BEFORE" ] || fail "the store file changed"
[ "$(stat -c %Y "$STORE")" = "$MTIME_BEFORE" ] || fail "the store file's time changed"
[ "$(ls "$WORK/store")" = "ref.mbtiles" ] || fail "files appeared beside the store: $(ls "$WORK/store")"
echo "ok: store file untouched"
echo "realwindow: all checks passed"
