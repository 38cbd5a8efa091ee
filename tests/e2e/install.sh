#!/usr/bin/env bash
# Installs the build into a staging folder and checks the program, its desktop
# entry, the MIME types for tile stores, the icons and the AppStream entry.
# Usage: install.sh <path-to-corvalis> <fixture-dir>
set -euo pipefail

PROGRAM=$(readlink -f "$1")
BUILD=$(dirname "$(dirname "$PROGRAM")")
[ -f "$BUILD/CMakeCache.txt" ] || { echo "FAIL: no build folder above $PROGRAM"; exit 1; }
STAGE=$(mktemp -d /tmp/corvalis-install-XXXXXX)
trap 'rm -rf "$STAGE"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$STAGE" cmake --install "$BUILD" --prefix /usr/local >"$STAGE.log" 2>&1 ||
    { cat "$STAGE.log"; rm -f "$STAGE.log"; fail "cmake --install failed"; }
rm -f "$STAGE.log"
ROOT="$STAGE/usr/local"

[ -x "$ROOT/bin/corvalis" ] || fail "the program was not installed"
DESKTOP="$ROOT/share/applications/org.corvalis.Corvalis.desktop"
[ -f "$DESKTOP" ] || fail "no desktop entry"
grep -qx 'Exec=corvalis %f' "$DESKTOP" || fail "desktop entry does not pass the file"
grep -qx 'MimeType=application/x-mbtiles;application/x-sqlitedb-tiles;application/geopackage+sqlite3;application/vnd.pmtiles;' "$DESKTOP" ||
    fail "desktop entry names no tile store types"
grep -qx 'Icon=corvalis' "$DESKTOP" || fail "desktop entry names another icon"
for icon in scalable/apps/corvalis.svg 16x16/apps/corvalis.png 48x48/apps/corvalis.png 256x256/apps/corvalis.png; do
    [ -s "$ROOT/share/icons/hicolor/$icon" ] || fail "no icon $icon"
done
[ -f "$ROOT/share/metainfo/org.corvalis.Corvalis.metainfo.xml" ] || fail "no AppStream entry"
[ -f "$ROOT/share/man/man1/corvalis.1.gz" ] || fail "no manual page"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$DESKTOP" || fail "desktop entry does not validate"
fi

MIME="$ROOT/share/mime"
[ -f "$MIME/packages/corvalis.xml" ] || fail "no MIME type definitions"
# Installing into a staging folder leaves the caches alone.
[ ! -e "$MIME/mime.cache" ] || fail "MIME cache written although DESTDIR was set"
if command -v update-mime-database >/dev/null; then
    update-mime-database "$MIME" >/dev/null 2>&1 || fail "MIME definitions do not compile"
    grep -q 'application/x-mbtiles:\*\.mbtiles' "$MIME/globs2" || fail "*.mbtiles not mapped"
    grep -q 'application/x-sqlitedb-tiles:\*\.sqlitedb' "$MIME/globs2" || fail "*.sqlitedb not mapped"
    grep -q 'application/geopackage+sqlite3:\*\.gpkg' "$MIME/globs2" || fail "*.gpkg not mapped"
    grep -q 'application/vnd.pmtiles:\*\.pmtiles' "$MIME/globs2" || fail "*.pmtiles not mapped"
fi
echo "install: all checks passed"
