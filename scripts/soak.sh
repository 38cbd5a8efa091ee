#!/usr/bin/env bash
# Soak test (on demand, not part of `make test`): the real window in a virtual
# X server opens stores of every layout in turn, zooms through every level and
# pans for SOAK_SECONDS seconds each (default 60). The resident size is
# reported after the first round of zooming and at the end; the run fails when
# it grows by more than SOAK_GROWTH_KB (default 51200), when the program dies,
# or when anything reaches crash.log. Usage: scripts/soak.sh [BUILD_DIR]
set -euo pipefail
BUILD=$(readlink -f "${1:-build}")
SOAK_SECONDS=${SOAK_SECONDS:-60}
SOAK_GROWTH_KB=${SOAK_GROWTH_KB:-51200}
PROGRAM="$BUILD/bin/corvalis"
FIXTURES="$BUILD/fixtures"
for tool in Xvfb xdotool sqlite3 "$PROGRAM"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not available"; exit 1; }
done

# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
begin_session corvalis-soak
fail() { echo "FAIL: $*"; exit 1; }

# Stores of every layout: the fixtures, and XYZ, reversed-z and WAL copies.
mkdir -p "$WORK/bin" "$WORK/stores"
cp "$PROGRAM" "$WORK/bin/corvalis"
S="$WORK/stores"
cp "$FIXTURES/reference.mbtiles" "$FIXTURES/test_orux.db" "$FIXTURES/test_orux.omm" "$S/"
cp "$FIXTURES/sample.mbtiles" "$S/wal.mbtiles"
sqlite3 "$S/wal.mbtiles" "PRAGMA journal_mode=WAL;" >/dev/null
for kind in xyz reversed; do
    name=$([ $kind = xyz ] && echo xyz.db || echo reversed.sqlitedb)
    zoom=$([ $kind = xyz ] && echo "zoom_level" || echo "17 - zoom_level")
    sqlite3 "$S/$name" "ATTACH '$FIXTURES/sample.mbtiles' AS r;
        CREATE TABLE tiles (x int, y int, z int, s int, image blob, PRIMARY KEY (x, y, z, s));
        INSERT INTO tiles SELECT tile_column, (1 << zoom_level) - 1 - tile_row, $zoom, 0, tile_data FROM r.tiles;"
done

start_xvfb 161 220 || fail "cannot start a virtual X server"

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$APP_PID/status"; }
alive() { kill -0 "$APP_PID" 2>/dev/null || fail "the program ended while showing $1"; }

# One round: zoom in level by level over the map, pan with keys and drags,
# zoom back out.
round() {
    local store=$1 mx=$2 my=$3
    for _ in $(seq 6); do
        xdotool mousemove $((mx + 490)) $((my + 296)) click 4
        for key in Right Right Down Left Up Down; do xdotool key --window "$WID" $key 2>/dev/null; done
        xdotool mousemove $((mx + 300)) $((my + 300)) mousedown 1 mousemove $((mx + 420)) $((my + 200)) \
            mousemove $((mx + 200)) $((my + 350)) mouseup 1
        alive "$store"
    done
    for _ in $(seq 6); do xdotool mousemove $((mx + 490)) $((my + 296)) click 5; done
    alive "$store"
}

status=0
for store in reference.mbtiles test_orux.db xyz.db reversed.sqlitedb wal.mbtiles; do
    : >"$WORK/bin/viewer.log"
    QT_QPA_PLATFORM=xcb "$WORK/bin/corvalis" "$S/$store" >"$WORK/app.out" 2>&1 &
    APP_PID=$!
    WID=$(timeout 20 xdotool search --sync --onlyvisible --name "Corvalis  -  $store" | head -1) ||
        fail "the window did not appear for $store"
    eval "$(xdotool getwindowgeometry --shell "$WID")"
    MX=$X
    MY=$((Y + 48))
    round "$store" "$MX" "$MY"
    start=$(rss)
    end_at=$((SECONDS + SOAK_SECONDS))
    rounds=1
    samples="$start"
    while [ $SECONDS -lt $end_at ]; do
        round "$store" "$MX" "$MY"
        rounds=$((rounds + 1))
        samples="$samples $(rss)"
    done
    end=$(rss)
    grids=$(grep -c 'grid z=' "$WORK/bin/viewer.log" || true)
    echo "soak: $store  rounds=$rounds  grids=$grids  rss after first round ${start} kB, at end ${end} kB"
    echo "      rss after each round (kB): $samples"
    [ $((end - start)) -le "$SOAK_GROWTH_KB" ] || { echo "FAIL: $store grew by $((end - start)) kB"; status=1; }
    kill "$APP_PID"
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
done
if [ -s "$WORK/bin/crash.log" ]; then
    echo "FAIL: crash.log:"
    cat "$WORK/bin/crash.log"
    status=1
fi
[ $status -eq 0 ] && echo "soak: passed, nothing in crash.log"
exit $status
