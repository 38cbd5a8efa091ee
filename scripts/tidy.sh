#!/usr/bin/env bash
# clang-tidy over every source of src/ with the compile commands of a build
# folder (checks in .clang-tidy; any finding fails). Takes the build lock, as
# it keeps both cores busy for a few minutes. Usage: scripts/tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
[ -f "$BUILD_DIR/compile_commands.json" ] || { echo "no $BUILD_DIR/compile_commands.json: build first"; exit 1; }
TIDY=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || { echo "run-clang-tidy is not installed"; exit 1; }
exec 9>/tmp/corvalis-build.lock
flock 9
# (clang-tidy counts the warnings it hid in other headers on each file: dropped.)
"$TIDY" -p "$BUILD_DIR" -j "${JOBS:-$(nproc)}" -quiet "^$PWD/src/.*\.cpp$" 2>&1 |
    { grep -v -E '^[0-9]+ warnings? generated\.$' || true; }
