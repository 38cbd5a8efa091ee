#!/usr/bin/env bash
# The README's screenshot: the real window in a virtual X server on the sample
# store (build/fixtures/sample.mbtiles), zoomed in two levels, cropped to the
# window and scaled to SHOT_WIDTH pixels (default 800) as a compact PNG
# (about 450 kB; SHOT_PALETTE=1 gives 256 dithered colours, about 120 kB).
# Usage: scripts/screenshot.sh [BUILD_DIR] [OUT.png]   (default build, docs/screenshot.png)
set -euo pipefail
BUILD=$(readlink -f "${1:-build}")
OUT=$(readlink -f "${2:-docs/screenshot.png}")
SHOT_WIDTH=${SHOT_WIDTH:-800}
PROGRAM="$BUILD/bin/corvalis"
SHOTCHECK="$BUILD/bin/shotcheck"
STORE="$BUILD/fixtures/sample.mbtiles"
for tool in Xvfb xdotool "$PROGRAM" "$SHOTCHECK"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not available (make build)"; exit 1; }
done
[ -f "$STORE" ] || { echo "FAIL: no $STORE (make build)"; exit 1; }

# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
begin_session corvalis-shot
fail() { echo "FAIL: $*"; exit 1; }

# The program runs from a folder of its own, so that its log is ours alone.
mkdir -p "$WORK/bin"
cp "$PROGRAM" "$WORK/bin/corvalis"
start_xvfb 221 280 -fbdir "$WORK" || fail "cannot start a virtual X server"
LOG="$WORK/bin/viewer.log"
wait_for_log() {
    for _ in $(seq 100); do
        grep -q -- "$1" "$LOG" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "the log never showed '$1'"
}
# Waits until two screen dumps in a row are the same (the pointer parked outside).
settle() {
    xdotool mousemove 1 1
    cp "$WORK/Xvfb_screen0" "$WORK/previous.xwd"
    for _ in $(seq 50); do
        sleep 0.2
        cp "$WORK/Xvfb_screen0" "$WORK/screen.xwd"
        cmp -s "$WORK/previous.xwd" "$WORK/screen.xwd" && return 0
        cp "$WORK/screen.xwd" "$WORK/previous.xwd"
    done
    fail "the screen never settled"
}

QT_QPA_PLATFORM=xcb "$WORK/bin/corvalis" "$STORE" >"$WORK/app.out" 2>&1 &
APP_PID=$!
WID=$(timeout 20 xdotool search --sync --onlyvisible --name 'Corvalis  -  sample.mbtiles' | head -1) ||
    fail "the window did not appear"
wait_for_log "grid z=0 "
eval "$(xdotool getwindowgeometry --shell "$WID")"
# Two wheel notches over the middle of the map: the world fills the window.
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 4
wait_for_log "grid z=1 "
xdotool click 4
wait_for_log "grid z=2 "
settle

kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=""

mkdir -p "$(dirname "$OUT")"
"$SHOTCHECK" crop "$WORK/screen.xwd" "$X" "$Y" "$WIDTH" "$HEIGHT" "$SHOT_WIDTH" "$OUT" \
    ${SHOT_PALETTE:+palette} ||
    fail "cannot write $OUT"
echo "screenshot: $OUT ($(stat -c %s "$OUT") bytes)"
