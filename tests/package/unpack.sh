#!/usr/bin/env bash
# The Debian package of a build folder, checked as it would be installed: its
# control fields and file list, lintian, the desktop entry, the AppStream entry
# and the manual page; then the program unpacked with dpkg-deb -x runs its
# --version, --help and --info on the reference store.
# Usage: unpack.sh BUILD_DIR   (after `make package`, which writes BUILD_DIR/corvalis_*.deb)
set -uo pipefail
BUILD=$(readlink -f "${1:-build-release}")
WORK=$(mktemp -d /tmp/corvalis-package-XXXXXX)
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

debs=("$BUILD"/corvalis_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single package in $BUILD: ${debs[*]}"; exit 1; }
DEB=${debs[0]}
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
APP_ID=org.corvalis.Corvalis
echo "package: $(basename "$DEB")"

# Control fields: the version of the build, libraries found by dpkg-shlibdeps.
[ "$(dpkg-deb -f "$DEB" Package)" = corvalis ] || fail "package name"
[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "version $(dpkg-deb -f "$DEB" Version), not $VERSION"
depends=$(dpkg-deb -f "$DEB" Depends)
for lib in libc6 libqt6gui6 libqt6widgets6 libsqlite3-0 libturbojpeg0 libspng0; do
    [[ ",$depends" == *", $lib "* || ",$depends" == *",$lib "* ]] || fail "Depends lacks $lib: $depends"
done

# Every file the desktop needs, nothing from the build's tests or tools.
dpkg-deb -c "$DEB" | awk '{ print $6 }' | sed 's|^\./||' | grep -v '/$' | sort >"$WORK/files.txt"
{
    echo usr/bin/corvalis
    echo "usr/share/applications/$APP_ID.desktop"
    echo usr/share/doc/corvalis/changelog.gz
    echo usr/share/doc/corvalis/copyright
    for size in 128 16 22 24 256 32 48 64; do echo "usr/share/icons/hicolor/${size}x$size/apps/corvalis.png"; done
    echo usr/share/icons/hicolor/scalable/apps/corvalis.svg
    echo usr/share/man/man1/corvalis.1.gz
    echo "usr/share/metainfo/$APP_ID.metainfo.xml"
    echo usr/share/mime/packages/corvalis.xml
} | sort >"$WORK/expected-files.txt"
diff "$WORK/expected-files.txt" "$WORK/files.txt" || fail "the package's files differ (< expected, > found)"

if command -v lintian >/dev/null; then
    lintian --fail-on error --display-info "$DEB" 2>/dev/null | tee "$WORK/lintian.txt"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"
else
    fail "lintian is not installed"
fi

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT" || { echo "FAIL: dpkg-deb -x"; exit 1; }
SHARE="$ROOT/usr/share"
desktop-file-validate "$SHARE/applications/$APP_ID.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$SHARE/metainfo/$APP_ID.metainfo.xml" >"$WORK/appstream.txt" 2>&1 ||
    fail "AppStream: $(cat "$WORK/appstream.txt")"
grep -q "<release version=\"$VERSION\"" "$SHARE/metainfo/$APP_ID.metainfo.xml" || fail "AppStream release is not $VERSION"
for size in 16 22 24 32 48 64 128 256; do
    file "$SHARE/icons/hicolor/${size}x$size/apps/corvalis.png" | grep -q "PNG image data, $size x $size," ||
        fail "the ${size}x$size icon is not a PNG of that size"
done
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$SHARE/man/man1/corvalis.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "manual page: $man_warnings"

# The unpacked program, without a display.
PROGRAM="$ROOT/usr/bin/corvalis"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PROGRAM" "$@"; }
out=$(run --version 2>"$WORK/err.txt")
rc=$?
[ $rc -eq 0 ] && [ "$out" = "corvalis $VERSION" ] || fail "--version: exit $rc, '$out' $(cat "$WORK/err.txt")"
run --help >"$WORK/help.txt" 2>&1 || fail "--help exit code"
head -1 "$WORK/help.txt" | grep -q '^Usage: corvalis ' || fail "--help: $(head -1 "$WORK/help.txt")"
run --info "$BUILD/fixtures/reference.mbtiles" >"$WORK/info.txt" 2>"$WORK/err.txt" ||
    fail "--info exit code: $(cat "$WORK/err.txt")"
grep -qx "  kind=MBTiles  localGrid=0  geoUnknown=0  format=png" "$WORK/info.txt" &&
    grep -qx "  zoom=0-3  tile=256x256  scheme=TMS" "$WORK/info.txt" &&
    [ "$(tail -1 "$WORK/info.txt")" = "=== INFO end ===" ] || fail "--info report: $(cat "$WORK/info.txt")"

# Installed, the program's folder is not the user's to write: the log goes to
# $XDG_STATE_HOME/Corvalis. Root writes anywhere, so root runs this as nobody.
as_user() {
    if [ "$(id -u)" -ne 0 ]; then "$@"; else runuser -u nobody -- "$@"; fi
}
if [ "$(id -u)" -ne 0 ] || command -v runuser >/dev/null; then
    chmod 755 "$WORK"
    rm -f "$ROOT/usr/bin/viewer.log"  # written by the runs above (as root, where root runs them)
    chmod -R a+rX,a-w "$ROOT"
    mkdir -m 700 "$WORK/state" "$WORK/runtime"
    [ "$(id -u)" -eq 0 ] && chown nobody "$WORK/state" "$WORK/runtime"
    install -m 644 "$BUILD/fixtures/reference.mbtiles" "$WORK/ref.mbtiles"
    as_user env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_STATE_HOME="$WORK/state" \
        XDG_RUNTIME_DIR="$WORK/runtime" "$PROGRAM" --info "$WORK/ref.mbtiles" >/dev/null 2>&1 ||
        fail "--info as a user who cannot write the program's folder"
    grep -q '=== INFO begin ===' "$WORK/state/Corvalis/viewer.log" 2>/dev/null ||
        fail "no report in \$XDG_STATE_HOME/Corvalis/viewer.log"
    [ ! -e "$ROOT/usr/bin/viewer.log" ] || fail "a log beside the installed program"
else
    echo "skipped: the log of an installed program (needs runuser as root)"
fi

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "package: all checks passed"
