#!/usr/bin/env bash
# Configures (once) and builds the given targets in build/ (or $BUILD_DIR).
# Builds are serialised with a lock so that several shells never compete for
# the machine's cores. Usage: scripts/build.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
exec 9>/tmp/corvalis-build.lock
flock 9
# Configure every time (cheap) so that newly added sources and tests are seen.
cmake -S . -B "$BUILD_DIR" ${CMAKE_ARGS:-} >/dev/null
if [ $# -eq 0 ]; then
  cmake --build "$BUILD_DIR" -j "$JOBS"
else
  for t in "$@"; do cmake --build "$BUILD_DIR" -j "$JOBS" --target "$t"; done
fi
