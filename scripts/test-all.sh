#!/usr/bin/env bash
# The test command: on a fresh Debian machine, installs what is missing,
# builds the native, native-asan, win64 and win32 presets and runs every
# test: unit and session tests, the POSIX platform and API tests, orvw
# against zdxsim over pseudo-terminals (all of them twice: plainly and under
# AddressSanitizer and UndefinedBehaviorSanitizer), each fuzz target for a
# few seconds (scripts/fuzz.sh, the fuzz preset), the Windows builds under
# Wine (with the window tests under Xvfb), and installing and the packages
# (tests/install/run.sh).
#
# The last line is "N passed, M failed" over every run; the exit status is
# non-zero when anything failed.  Counts come from ctest's JUnit reports
# and the closing lines of the Wine and install runs; ctest's exit status
# has the last word.
set -euo pipefail
cd "$(dirname "$0")/.."

PASSED=0
FAILED=0
PROBLEMS=()          # what went wrong, for the summary
TIMES=()             # "phase Ns", in order
declare -A BUILT     # preset -> yes/no

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# timed NAME COMMAND...: runs the command as one phase and notes its time;
# the command's status.
timed() {
    local name=$1 t0=$SECONDS rc=0
    shift
    echo "== $name"
    "$@" || rc=$?
    TIMES+=("$name $((SECONDS - t0))s")
    return "$rc"
}

build() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# junit_counts FILE: "PASSED FAILED" from a ctest JUnit report.  A test
# that could not run counts as failed; one skipped on purpose
# (SKIP_RETURN_CODE) or disabled counts as neither.
junit_counts() {
    local run fail notrun skip
    run=$(grep -c '<testcase .*status="run"' "$1" || true)
    fail=$(grep -c '<testcase .*status="fail"' "$1" || true)
    notrun=$(grep -c '<testcase .*status="notrun"' "$1" || true)
    skip=$(grep -c '<skipped message="SKIP_RETURN_CODE=' "$1" || true)
    echo "$run $((fail + notrun - skip))"
}

# run_ctest PRESET: the preset's tests, counted.
run_ctest() {
    local preset=$1 report=$logs/$1.xml rc=0 passed=0 failed=0
    if [ "${BUILT[$preset]}" != yes ]; then
        echo "not built: no tests"
        return 0
    fi
    ctest --preset "$preset" --output-junit "$report" || rc=$?
    if [ -s "$report" ]; then
        read -r passed failed < <(junit_counts "$report")
    fi
    if [ "$rc" -ne 0 ]; then
        [ "$failed" -gt 0 ] || failed=1
        PROBLEMS+=("ctest $preset: status $rc")
    fi
    PASSED=$((PASSED + passed))
    FAILED=$((FAILED + failed))
}

run_wine() {
    local rc=0 passed=0 failed=0
    # Into a file, not a pipe: Wine's background processes could hold a
    # pipe open after the run.
    bash scripts/test-wine.sh >"$logs/wine.log" 2>&1 || rc=$?
    cat "$logs/wine.log"
    local counts
    counts=$(sed -n 's/^wine: \([0-9]*\) passed, \([0-9]*\) failed.*/\1 \2/p' "$logs/wine.log" | tail -n 1)
    if [ -n "$counts" ]; then
        read -r passed failed <<<"$counts"
    fi
    if [ "$rc" -ne 0 ]; then
        [ "$failed" -gt 0 ] || failed=1
        PROBLEMS+=("wine: status $rc")
    fi
    PASSED=$((PASSED + passed))
    FAILED=$((FAILED + failed))
}

# A brief run of every fuzz target (seconds each), so that a broken harness
# or a regression input that crashes again is caught; one count per target.
run_fuzz() {
    local rc=0 passed=0 failed=0
    bash scripts/fuzz.sh all "${ORV5_CI_FUZZ_SECONDS:-6}" >"$logs/fuzz.log" 2>&1 || rc=$?
    cat "$logs/fuzz.log"
    passed=$(grep -c '^fuzz .*, exit 0$' "$logs/fuzz.log" || true)
    failed=$(grep -c '^fuzz ' "$logs/fuzz.log" || true)
    failed=$((failed - passed))
    if [ "$rc" -ne 0 ]; then
        [ "$failed" -gt 0 ] || failed=1
        PROBLEMS+=("fuzz: status $rc")
    fi
    PASSED=$((PASSED + passed))
    FAILED=$((FAILED + failed))
}

# run_install: cmake --install, the consumer builds and the packages, from
# the native build and whichever Windows builds were made.
run_install() {
    local rc=0 passed=0 failed=0 counts
    if [ "${BUILT[native]}" != yes ]; then
        echo "native not built: no install tests"
        return 0
    fi
    local win64=$PWD/build/win64 win32=$PWD/build/win32
    [ "${BUILT[win64]}" = yes ] || win64=$logs/none
    [ "${BUILT[win32]}" = yes ] || win32=$logs/none
    WIN64_DIR=$win64 WIN32_DIR=$win32 bash tests/install/run.sh >"$logs/install.log" 2>&1 || rc=$?
    cat "$logs/install.log"
    counts=$(sed -n 's/^install: \([0-9]*\) passed, \([0-9]*\) failed.*/\1 \2/p' "$logs/install.log" | tail -n 1)
    if [ -n "$counts" ]; then
        read -r passed failed <<<"$counts"
    fi
    if [ "$rc" -ne 0 ]; then
        [ "$failed" -gt 0 ] || failed=1
        PROBLEMS+=("install: status $rc")
    fi
    PASSED=$((PASSED + passed))
    FAILED=$((FAILED + failed))
}

timed setup bash scripts/setup-debian.sh

# run_format: every C and C++ source in the house style (.clang-format).
run_format() {
    if bash scripts/check-format.sh >"$logs/format.log" 2>&1; then
        PASSED=$((PASSED + 1))
    else
        cat "$logs/format.log"
        FAILED=$((FAILED + 1))
        PROBLEMS+=("format: files differ from .clang-format (clang-format -i FILE)")
    fi
}
timed "format check" run_format

for preset in native native-asan win64 win32; do
    if timed "build $preset" build "$preset"; then
        BUILT[$preset]=yes
    else
        BUILT[$preset]=no
        FAILED=$((FAILED + 1))
        PROBLEMS+=("build $preset")
    fi
done

timed "native tests" run_ctest native
timed "native-asan tests" run_ctest native-asan
timed "fuzz targets, briefly" run_fuzz
timed "Windows builds under Wine" run_wine
timed "install and packages" run_install

echo "test-all: times: $(IFS=,; echo "${TIMES[*]}" | sed 's/,/, /g')"
if [ "${#PROBLEMS[@]}" -gt 0 ] || [ "$FAILED" -gt 0 ]; then
    echo "test-all: FAILED (${PROBLEMS[*]:-failed tests})"
    echo "$PASSED passed, $FAILED failed"
    exit 1
fi
echo "$PASSED passed, $FAILED failed"
