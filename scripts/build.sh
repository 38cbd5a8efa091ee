#!/usr/bin/env bash
# Configures and builds the given targets (all without any) in build/ (or
# $BUILD_DIR), from the configure preset $PRESET (default: "default", see
# CMakePresets.json) with $CMAKE_ARGS on top. Builds are serialised with a lock
# so that several shells never compete for the machine's cores.
# Usage: [BUILD_DIR=dir] [PRESET=name] [CMAKE_ARGS=...] scripts/build.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
PRESET=${PRESET:-default}
JOBS=${JOBS:-$(nproc)}
exec 9>/tmp/corvalis-build.lock
flock 9
# Configure every time (cheap) so that newly added sources and tests are seen.
# shellcheck disable=SC2086  # CMAKE_ARGS holds several arguments
cmake --preset "$PRESET" -B "$BUILD_DIR" ${CMAKE_ARGS:-} >/dev/null
if [ $# -eq 0 ]; then
  cmake --build "$BUILD_DIR" -j "$JOBS"
else
  for t in "$@"; do cmake --build "$BUILD_DIR" -j "$JOBS" --target "$t"; done
fi
