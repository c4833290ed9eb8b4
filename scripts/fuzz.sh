#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) in build-fuzz/ and runs each for
# the given number of seconds (default 600). CI runs this with 30. The targets: fuzz_decoder
# (the payload decoder), fuzz_logrecord (the capture log's records), fuzz_savefile (the reader
# of the capture helper's stream), fuzz_capturefile (the reader of capture files); each is
# found by its seed directory.
#
#   bash scripts/fuzz.sh          # 10 minutes per target
#   bash scripts/fuzz.sh 3600     # an hour per target
#   KINTO_FUZZ_MAX_LEN=65535 bash scripts/fuzz.sh 3600   # mutants up to the largest packet
#
# Seeds come from tests/fuzz/corpus/<target>/ (with tests/fuzz/<target>.dict, if there, as the
# fuzzer's dictionary) and are never written to; what the fuzzer finds grows
# build-fuzz/corpus/<target>/, so a later run goes on from there. A crashing input is kept
# in build-fuzz/artifacts/<target>/; replay it with build-fuzz/tests/fuzz/<target> <file>.
# The last line is "N passed, N failed"; the exit code is non-zero when a target failed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
build=${KINTO_FUZZ_BUILD_DIR:-build-fuzz}
max_len=${KINTO_FUZZ_MAX_LEN:-4096}

command -v clang++ >/dev/null || bash scripts/setup.sh || exit 1

targets=()
for dir in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$dir")")
done

if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKINTO_FUZZ=ON -DKINTO_BUILD_TESTS=OFF -DKINTO_BUILD_BENCH=OFF >/dev/null ||
    ! cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"; then
    echo "fuzz targets failed to build"
    echo "0 passed, ${#targets[@]} failed"
    exit 1
fi

passed=0
failed=0
for target in "${targets[@]}"; do
    bin="$build/tests/fuzz/$target"
    seeds="tests/fuzz/corpus/$target"
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    log="$build/$target.log"
    mkdir -p "$corpus" "$artifacts"
    # Every seed whole first (the largest is a 65,535-byte packet), then mutation. The coverage
    # instrumentation makes each input cost time in proportion to its length, and nothing in
    # the code changes behaviour beyond a few hundred bytes, so mutants stay at or below
    # max_len (seeds beyond it are cut): 15 times the executions of 65,535 for the same time.
    if ! "$bin" "$seeds"/* >"$log" 2>&1; then
        failed=$((failed + 1))
        echo "$target: FAILED on a seed; log $log"
        grep -E '^Running:' "$log" | tail -1
        grep -E 'ERROR|runtime error|property broken' "$log" | head -3
        continue
    fi
    dict=()
    [ -f "tests/fuzz/$target.dict" ] && dict=(-dict="tests/fuzz/$target.dict")
    "$bin" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
        "${dict[@]}" -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds" \
        >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$runs" ] || runs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
        echo "$target: ${runs:-?} executions in ${seconds} s, clean (corpus: $(ls "$corpus" | wc -l) inputs)"
    else
        failed=$((failed + 1))
        echo "$target: FAILED after ${runs:-?} executions (exit $rc); log $log"
        grep -E 'ERROR|runtime error|property broken|Test unit written' "$log" | head -4
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
