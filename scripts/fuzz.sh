#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS seconds (default 30)
# on its corpus: the seeds written by the build, the inputs kept in
# fuzz/corpus-regressions/<target>, and what earlier runs found
# (build-fuzz/fuzz-corpus/found/<target>). Inputs that fail are saved under
# build-fuzz/fuzz-artifacts/<target>/. Usage: scripts/fuzz.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
DIR=${FUZZ_BUILD_DIR:-build-fuzz}
RUN_SECONDS=${FUZZ_SECONDS:-30}
ALL=(fuzz_probe_image fuzz_tile_decoder fuzz_sidecar fuzz_store fuzz_viewport fuzz_png_fastpath
     fuzz_text fuzz_mvt fuzz_pmtiles fuzz_geopackage)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")

BUILD_DIR=$DIR PRESET=fuzz ./scripts/build.sh fuzzers

status=0
for t in "${TARGETS[@]}"; do
    found="$DIR/fuzz-corpus/found/$t"
    artifacts="$DIR/fuzz-artifacts/$t"
    regressions="fuzz/corpus-regressions/$t"
    mkdir -p "$found" "$artifacts" "$regressions"
    echo "== $t for ${RUN_SECONDS}s"
    if ! QT_QPA_PLATFORM=offscreen \
        ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$DIR/bin/$t" -max_total_time="$RUN_SECONDS" -timeout=30 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$artifacts/" \
            "$found" "$DIR/fuzz-corpus/seeds/$t" "$regressions" >"$DIR/fuzz-$t.log" 2>&1; then
        echo "FAIL: $t (see $DIR/fuzz-$t.log and $artifacts)"
        tail -40 "$DIR/fuzz-$t.log"
        status=1
        continue
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|cov: ' "$DIR/fuzz-$t.log" | tail -3 || true
done
exit $status
