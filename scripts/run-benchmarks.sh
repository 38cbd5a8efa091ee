#!/usr/bin/env bash
# Runs every benchmark program of the build. Usage: scripts/run-benchmarks.sh [BUILD_DIR]
set -euo pipefail
BUILD_DIR=${1:-build}
status=0
for b in "$BUILD_DIR"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true || status=1
done
exit $status
