#!/usr/bin/env bash
# Installs what is missing, then runs everything CI checks, in this order:
#   1. the whole test suite, built in Release (build/);
#   2. the same suite built with ASan, UBSan and LSan (build-asan/, RelWithDebInfo);
#   3. each libFuzzer target for a short time (scripts/fuzz.sh; KINTO_CI_FUZZ_SECONDS, default 30);
#   4. the Debian package, installed on this machine and used as a user would (root only).
# A failing step does not stop the later ones. The last line is "N passed, N failed", counting
# tests of both suites, fuzz targets and the install test; the exit code is non-zero when
# anything failed. Run it as root: the capture tests skip without the right to capture.
# The sanitizer suite leaves out the long run (CTest label "long"), which the Release suite has.
set -uo pipefail
cd "$(dirname "$0")/.."

release=${KINTO_BUILD_DIR:-build}
asan=${KINTO_ASAN_BUILD_DIR:-build-asan}
fuzz_seconds=${KINTO_CI_FUZZ_SECONDS:-30}

passed=0
failed=0
report=()

# Adds the counts of the summary line ctest or fuzz.sh printed last; a step that printed none
# counts as one test, passed or failed by its exit code.
tally()
{
    local step=$1 log=$2 seconds=$3 status=$4 line p f
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$|^([a-z-]+: )?[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1)
    line=${line#*: }
    if [[ $line =~ ^[0-9]+%\ tests\ passed,\ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+)$ ]]; then
        f=${BASH_REMATCH[1]}
        p=$((BASH_REMATCH[2] - f))
    elif [[ $line =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
        p=${BASH_REMATCH[1]}
        f=${BASH_REMATCH[2]}
    elif [ "$status" -eq 0 ]; then
        p=1
        f=0
    else
        p=0
        f=1
    fi
    # A step that failed after its summary (a leak report at exit, say) still counts.
    if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    report+=("$(printf '%-22s %4d passed, %d failed  (%d s)' "$step:" "$p" "$f" "$seconds")")
}

# Runs a step with its output shown and kept for tally.
step()
{
    local name=$1 log
    shift
    log=$(mktemp)
    echo "=== $name"
    SECONDS=0
    "$@" 2>&1 | tee "$log"
    tally "$name" "$log" "$SECONDS" "${PIPESTATUS[0]}"
    rm -f "$log"
}

release_suite()
{
    bash scripts/setup.sh && (cd "$release" && ctest --output-on-failure)
}

sanitizer_suite()
{
    cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKINTO_SANITIZE=ON >/dev/null &&
        cmake --build "$asan" -j"$(nproc)" &&
        (cd "$asan" && ctest -LE long --output-on-failure)
}

[ "$(id -u)" -eq 0 ] || echo "note: not running as root, so the capture tests skip"

step "Release tests" release_suite
step "Sanitizer tests" sanitizer_suite
step "Fuzzing (${fuzz_seconds} s each)" bash scripts/fuzz.sh "$fuzz_seconds"
if [ "$(id -u)" -eq 0 ]; then
    step "Install test" bash tests/package/install-test.sh
fi

echo "=== Summary"
printf '%s\n' "${report[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
